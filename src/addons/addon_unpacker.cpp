#include "addons/addon_unpacker.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include "addons/relative_name.h"
#include "addons/zip_archive.h"
#include "platform/data_directory.h"
#include "platform/file_writer.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

constexpr char kRefusedEntry[] = "UnpackAddOnArchive - entry not written";
constexpr char kRefusedArchive[] = "UnpackAddOnArchive - ERROR - archive refused";
constexpr char kUnwritableEntry[] = "UnpackAddOnArchive - ERROR - entry cannot be written";
// The trace results of the three outcomes.
constexpr int32_t kTraceUnpacked = 1;
constexpr int32_t kTraceNotAnArchive = 0;
constexpr int32_t kTraceRefused = -1;
constexpr int32_t kTraceWriteFailed = -2;

// How one entry went.
enum class EntryOutcome {
  // Written, or left out (traced): the unpacking goes on.
  kGoOn,
  // The unpacked total went over the limit: the archive is refused.
  kOverLimit,
  // The entry's bytes could not be written: the unpacking fails.
  kWriteFailed,
};

// One unpacking: the archive, where it goes, and the running total.
class Unpacker {
 public:
  Unpacker(const ZipArchive& archive, const std::string& folder, const UnpackLimits& limits, const TraceFunction& trace)
      : m_archive(archive), m_folder(folder), m_limits(limits), m_trace(trace) {}

  EntryOutcome UnpackEntry(uint64_t index) {
    std::string name = m_archive.EntryName(index);
    if (name.size() > kMaxEntryNameBytes) name.resize(kMaxEntryNameBytes);
    std::optional<std::string_view> refusal = RelativeNameRefusal(name);
    if (!refusal && m_archive.IsSymbolicLink(index)) refusal = "symbolic link";
    if (refusal) {
      m_trace.Message(kRefusedEntry);
      m_trace.DataText("name", name);
      m_trace.Text("why", *refusal);
      return EntryOutcome::kGoOn;
    }
    // The platform layer traces its own failures; an entry it cannot create
    // is simply missing.
    // The cut name decides too: a cut that ends on "/" leaves a folder name.
    if (name.ends_with('/') || m_archive.IsDirectory(index)) {
      (void)CreateDirectoryTreeBelow(m_folder, name);
      return EntryOutcome::kGoOn;
    }
    return ExtractFile(index, name);
  }

 private:
  EntryOutcome ExtractFile(uint64_t index, const std::string& name) {
    std::unique_ptr<FileWriter> writer;
    if (!FileWriter::Create(m_folder, name, writer).ok()) return EntryOutcome::kGoOn;
    bool overLimit = false;
    bool writeFailed = false;
    const Status read = m_archive.ReadChunks(index, [&](std::span<const uint8_t> chunk) {
      if (chunk.size() > m_limits.m_maxUnpackedBytes - m_total) {
        overLimit = true;
        return Status::Failed("the archive unpacks to more than the limit");
      }
      m_total += chunk.size();
      Status written = writer->Write(chunk);
      writeFailed = !written.ok();
      return written;
    });
    if (overLimit) return EntryOutcome::kOverLimit;
    // A damaged entry is left cut short: the add-on's signature check
    // catches it before the add-on runs. A file that was not written whole
    // to the disk is no such entry: the disk cannot take the add-on.
    if (writeFailed || (read.ok() && !writer->Finish().ok())) return Failed(name);
    return EntryOutcome::kGoOn;
  }

  EntryOutcome Failed(const std::string& name) const {
    m_trace.Message(kUnwritableEntry);
    m_trace.DataText("name", name);
    return EntryOutcome::kWriteFailed;
  }

  const ZipArchive& m_archive;
  const std::string& m_folder;
  const UnpackLimits& m_limits;
  const TraceFunction& m_trace;
  uint64_t m_total = 0;
};

UnpackResult Refuse(const TraceFunction& trace, const std::string& folder, const char* why) {
  trace.Message(kRefusedArchive);
  trace.Text("why", why);
  (void)DeleteDirectoryTree(folder);  // traces its own failure
  return UnpackResult::kRefused;
}

}  // namespace

UnpackResult UnpackAddOnArchive(std::span<const uint8_t> archive, const std::string& folder,
                                const UnpackLimits& limits) {
  TraceFunction trace("UnpackAddOnArchive");
  trace.Text("folder.c_str ()", folder);
  const std::unique_ptr<ZipArchive> zip = ZipArchive::Open(archive);
  if (!zip) {
    trace.SetResult(kTraceNotAnArchive);
    return UnpackResult::kNotAnArchive;
  }
  trace.SetResult(kTraceRefused);
  const uint64_t count = zip->EntryCount();
  if (count > limits.m_maxEntries) return Refuse(trace, folder, "too many entries");
  if (!zip->EntriesApart()) return Refuse(trace, folder, "entries overlap");
  Unpacker unpacker(*zip, folder, limits, trace);
  for (uint64_t index = 0; index < count; ++index) {
    switch (unpacker.UnpackEntry(index)) {
      case EntryOutcome::kGoOn:
        break;
      case EntryOutcome::kOverLimit:
        return Refuse(trace, folder, "too much content");
      case EntryOutcome::kWriteFailed:
        (void)DeleteDirectoryTree(folder);  // traces its own failure
        trace.SetResult(kTraceWriteFailed);
        return UnpackResult::kWriteFailed;
    }
  }
  trace.SetResult(kTraceUnpacked);
  return UnpackResult::kUnpacked;
}

}  // namespace vorneth
