#include "store/store_folder.h"

#include <json/value.h>

#include <optional>
#include <string_view>

#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "platform/data_directory.h"
#include "platform/file_lock.h"
#include "platform/file_reader_writer.h"
#include "platform/mutex.h"
#include "platform/trace.h"

namespace vorneth::store {
namespace {

constexpr char kStoreError[] = "VornethDB - ERROR - store operation failed";
constexpr char kDamagedMessage[] = "VornethDB - the store is damaged; what was read before the damage is kept";
constexpr char kLockedMessage[] = "VornethDB - ERROR - the store is locked by another process";

// Serialises the threads of this process across every folder; the file lock
// does the same across processes.
Mutex g_processMutex;

// Holds the store for the calling thread from construction to destruction:
// the process-wide mutex, then the file lock (when there is a folder), the
// latter waited for at most kStoreLockWait. Not reentrant.
class SCOPED_CAPABILITY StoreLock {
 public:
  explicit StoreLock(const std::string& lockPath) ACQUIRE(g_processMutex) {
    g_processMutex.Lock();
    if (!lockPath.empty()) m_fileLock.emplace(lockPath, kStoreLockWait);
  }
  ~StoreLock() RELEASE() {
    m_fileLock.reset();
    g_processMutex.Unlock();
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  // Changes are written only while the cross-process lock is held too.
  Status Exclusive() const {
    if (!m_fileLock) return Status::Failed("no data directory");
    return m_fileLock->status();
  }
  // True when another process kept the file lock for the whole wait.
  bool HeldElsewhere() const { return m_fileLock && m_fileLock->held_elsewhere(); }

 private:
  std::optional<FileLock> m_fileLock;
};

// The store as read from disk.
struct StoreContents {
  Status status = Status::Ok();  // failed when the store cannot be read
  std::string text;              // the file's bytes; empty when absent
  Json::Value document;          // whatever the JSON reader built from `text`
  bool whole = true;             // false when the reader stopped on damage
};

// Traces a failure of the store in `trace`'s scope and hands it on.
Status Traced(const TraceFunction& trace, Status status) {
  if (status.ok()) return status;
  trace.Message(kStoreError);
  trace.Text("why", status.why());
  return status;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

StoreContents Load(const StoreFolder& folder) {
  TraceFunction trace("VornethDB::ReadVornethDB");
  StoreContents contents;
  const std::string path = folder.PathOf(kStoreFileName);
  if (path.empty()) {
    contents.status = Traced(trace, Status::Failed("no data directory"));
    return contents;
  }
  trace.Text("filePath.c_str()", path);
  trace.Message("GetDataDirectory result");
  switch (FileReaderWriter::ReadFile(path, contents.text)) {
    case FileRead::kAbsent:
      return contents;
    case FileRead::kFailed:
    case FileRead::kTooLarge:
      contents.status = Traced(trace, Status::Failed("the store exists but cannot be read: " + path));
      return contents;
    case FileRead::kRead:
      break;
  }
  // A blank file holds nothing that could be lost.
  contents.whole = ParseJsonUpToDamage(contents.text, contents.document) || IsBlank(contents.text);
  if (!contents.whole) trace.Message(kDamagedMessage);
  return contents;
}

// Copies a damaged store to "vorneth.db.damaged" before its first rewrite,
// unless a copy is there already. Fails when no copy could be made.
Status KeepDamagedCopy(const StoreFolder& folder, const std::string& text) {
  const std::string copy = folder.PathOf(kDamagedCopyName);
  if (FileReaderWriter::Exists(copy)) return Status::Ok();
  Status status = FileReaderWriter::WriteFileAtomically(copy, text);
  if (!status.ok()) return Status::Failed("cannot keep a copy of the damaged store: " + status.why());
  return status;
}

// Replaces the store read as `contents` with `text`. The caller holds an
// exclusive StoreLock.
Status Save(const StoreFolder& folder, const StoreContents& contents, const std::string& text) {
  TraceFunction trace("VornethDB::WriteVornethDB");
  const std::string path = folder.PathOf(kStoreFileName);
  trace.Text("filePath.c_str()", path);
  trace.Message("GetDataDirectory result");
  if (!contents.whole) {
    if (Status kept = KeepDamagedCopy(folder, contents.text); !kept.ok()) return Traced(trace, std::move(kept));
  }
  // Leftovers of killed writers: traced where they could not be removed,
  // and no reason to refuse the write.
  (void)FileReaderWriter::RemoveTemporaryFiles(path);
  return Traced(trace, FileReaderWriter::WriteFileAtomically(path, text));
}

// The checks every write goes through: a store that cannot be read or is not
// held exclusively is not written.
Status Writable(const TraceFunction& trace, const StoreLock& lock, const StoreContents& contents) {
  if (!contents.status.ok()) return Traced(trace, contents.status);
  if (lock.HeldElsewhere()) trace.Message(kLockedMessage);
  return Traced(trace, lock.Exclusive());
}

}  // namespace

StoreFolder StoreFolder::InDataDirectory() {
  std::string directory;
  if (!GetDataDirectory(directory)) return StoreFolder(std::string());
  return StoreFolder(std::move(directory));
}

std::string StoreFolder::PathOf(const char* name) const {
  if (m_folder.empty()) return std::string();
  return m_folder + kPathSeparator + name;
}

Json::Value StoreFolder::Read() const {
  // No file lock: see the header.
  MutexLock lock(&g_processMutex);
  return Load(*this).document;
}

Status StoreFolder::Change(const std::function<bool(Json::Value& document)>& change) const {
  TraceFunction trace("VornethDB::ChangeStore");
  StoreLock lock(PathOf(kLockFileName));
  StoreContents contents = Load(*this);
  if (Status writable = Writable(trace, lock, contents); !writable.ok()) return writable;
  if (!contents.document.isNull() && !contents.document.isObject()) {
    return Traced(trace, Status::Failed("the store holds no object: " + PathOf(kStoreFileName)));
  }
  try {
    if (!change(contents.document)) return Status::Ok();
  } catch (const Json::Exception& error) {
    // The operations check every type they touch; this only keeps a missed
    // case from ending the host or writing a half-changed document.
    return Traced(trace, Status::Failed(std::string("a change failed on the document: ") + error.what()));
  }
  const std::string text = StyledWriter().write(contents.document);
  if (text == contents.text) return Status::Ok();
  return Save(*this, contents, text);
}

Status StoreFolder::Write(const Json::Value& document) const {
  TraceFunction trace("VornethDB::ReplaceStore");
  const std::string text = StyledWriter().write(document);
  StoreLock lock(PathOf(kLockFileName));
  const StoreContents contents = Load(*this);
  if (Status writable = Writable(trace, lock, contents); !writable.ok()) return writable;
  if (text == contents.text) return Status::Ok();
  return Save(*this, contents, text);
}

Json::Value& ListForChange(Json::Value& document, const char* name) {
  Json::Value& member = document[name];
  if (!member.isNull() && !member.isArray()) member = Json::Value();
  return member;
}

}  // namespace vorneth::store
