// The ZIP library's calls, all of them. The archive is opened read-only over
// the caller's bytes (the library never copies or frees them); the layout
// check of zip_layout.h runs once at opening, and every read checks the
// bytes that came out against the entry's size field.
//
// The library's stricter consistency check (ZIP_CHECKCONS) is left off: it
// refuses only the crudest overlaps (records that copy one name, or whose
// name differs from the local header's) and none where one entry's data
// runs into the next entry's header, and what it refuses comes out as "not
// an archive", which a caller cannot tell from random bytes. The layout
// check catches every overlap and says so.
#include "addons/zip_library.h"

#include <zip.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "addons/zip_layout.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// Size of one piece handed to a chunk sink: bounds the memory of a read
// whatever the entry's size.
constexpr size_t kChunkSize = size_t{64} * 1024;

// Unix file type in the high 16 bits of the external attributes.
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixSymbolicLink = 0120000;
constexpr int kUnixTypeShift = 16;
// The MS-DOS folder attribute in the low byte.
constexpr uint32_t kDosDirectory = 0x10;

struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFile = std::unique_ptr<zip_file_t, FileCloser>;

// The library's text for an error set on a zip_error_t.
std::string ErrorText(zip_error_t& error) {
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// libzip hands out names as C strings and puts a space where a stored name
// holds a NUL; a walked name matches the library's under that rule.
bool SameName(std::string walked, const char* library) {
  std::replace(walked.begin(), walked.end(), '\0', ' ');
  return library != nullptr && walked == library;
}

struct ArchiveHandle {
  ~ArchiveHandle() {
    if (m_archive != nullptr) zip_discard(m_archive);
  }
  zip_t* m_archive = nullptr;
  // The central directory as walked from the bytes; empty when the walk
  // disagrees with the library.
  std::vector<ZipCentralRecord> m_records;
  bool m_apart = false;
};

class LibraryArchive final : public ZipArchive {
 public:
  explicit LibraryArchive(std::unique_ptr<ArchiveHandle> handle) : m_handle(std::move(handle)) {}
  uint64_t EntryCount() const override;
  std::string EntryName(uint64_t index) const override;
  bool IsDirectory(uint64_t index) const override;
  bool IsSymbolicLink(uint64_t index) const override;
  bool EntriesApart() const override;
  std::optional<uint64_t> Find(std::string_view name) const override;
  Status ReadChunks(uint64_t index, const ChunkSink& sink) const override;

 private:
  std::unique_ptr<ArchiveHandle> m_handle;
};

// Keeps the walked directory only when it is the one the library read:
// same number of entries, same names in the same order.
void CheckLayout(std::span<const uint8_t> bytes, zip_t* archive, std::vector<ZipCentralRecord>& records, bool& apart) {
  std::optional<std::vector<ZipCentralRecord>> walked = ReadCentralDirectory(bytes);
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (!walked || count < 0 || walked->size() != static_cast<uint64_t>(count)) return;
  for (uint64_t i = 0; i < walked->size(); ++i) {
    if (!SameName((*walked)[i].name, zip_get_name(archive, i, ZIP_FL_ENC_RAW))) return;
  }
  apart = LocalRangesApart(bytes, *walked);
  records = std::move(*walked);
}

}  // namespace

std::unique_ptr<ZipArchive> OpenWithZipLibrary(std::span<const uint8_t> bytes) {
  TraceFunction trace("ZipArchive::Open");
  trace.Number("size", static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX)));
  if (bytes.empty()) {
    trace.Message("ZipArchive::Open - ERROR - no bytes");
    return nullptr;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) {
    trace.Text("why", ErrorText(error));
    return nullptr;
  }
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (archive == nullptr) {
    zip_source_free(source);
    trace.Message("ZipArchive::Open - ERROR - not a readable archive");
    trace.Text("why", ErrorText(error));
    return nullptr;
  }
  zip_error_fini(&error);
  auto handle = std::make_unique<ArchiveHandle>();
  handle->m_archive = archive;  // owns the source from here on
  CheckLayout(bytes, archive, handle->m_records, handle->m_apart);
  if (!handle->m_apart) trace.Message("ZipArchive::Open - entries overlap or the layout cannot be checked");
  return std::make_unique<LibraryArchive>(std::move(handle));
}

uint64_t LibraryArchive::EntryCount() const {
  const zip_int64_t count = zip_get_num_entries(m_handle->m_archive, 0);
  return count < 0 ? 0 : static_cast<uint64_t>(count);
}

std::string LibraryArchive::EntryName(uint64_t index) const {
  if (index < m_handle->m_records.size()) return m_handle->m_records[index].name;
  const char* name = zip_get_name(m_handle->m_archive, index, ZIP_FL_ENC_RAW);
  return name == nullptr ? std::string() : std::string(name);
}

bool LibraryArchive::IsDirectory(uint64_t index) const {
  if (EntryName(index).ends_with('/')) return true;
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(m_handle->m_archive, index, 0, &system, &attributes) != 0) return false;
  return (attributes & kDosDirectory) != 0;
}

bool LibraryArchive::IsSymbolicLink(uint64_t index) const {
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(m_handle->m_archive, index, 0, &system, &attributes) != 0) return false;
  return system == ZIP_OPSYS_UNIX && ((attributes >> kUnixTypeShift) & kUnixTypeMask) == kUnixSymbolicLink;
}

bool LibraryArchive::EntriesApart() const {
  return m_handle->m_apart;
}

std::optional<uint64_t> LibraryArchive::Find(std::string_view name) const {
  // The library takes a C string: a name holding a NUL names no entry.
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  const zip_int64_t index = zip_name_locate(m_handle->m_archive, std::string(name).c_str(), ZIP_FL_NOCASE);
  if (index < 0) return std::nullopt;
  return static_cast<uint64_t>(index);
}

Status LibraryArchive::ReadChunks(uint64_t index, const ChunkSink& sink) const {
  TraceFunction trace("ZipArchive::ReadChunks");
  trace.Number("index", static_cast<int32_t>(std::min<uint64_t>(index, INT32_MAX)));
  ZipFile file(zip_fopen_index(m_handle->m_archive, index, 0));
  if (!file) {
    Status failed = Status::Failed(std::string("cannot open the entry: ") + zip_strerror(m_handle->m_archive));
    trace.Text("why", failed.why());
    return failed;
  }
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(m_handle->m_archive, index, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
    Status failed = Status::Failed("the entry has no size");
    trace.Text("why", failed.why());
    return failed;
  }
  std::vector<uint8_t> buffer(kChunkSize);
  uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
    if (got < 0) {
      Status failed = Status::Failed(std::string("cannot read the entry: ") + zip_file_strerror(file.get()));
      trace.Text("why", failed.why());
      return failed;
    }
    // The library checks the size field of stored entries only: a deflated
    // entry's content may run past it or stop short of it.
    total += static_cast<uint64_t>(got);
    if (total > stat.size || (got == 0 && total != stat.size)) {
      Status failed = Status::Failed("the entry's content disagrees with its size field");
      trace.Text("why", failed.why());
      return failed;
    }
    if (got == 0) return Status::Ok();
    Status status = sink(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)));
    if (!status.ok()) {
      trace.Text("why", status.why());
      return status;
    }
  }
}

}  // namespace vorneth
