#include "zip_writer.h"

#include <sys/stat.h>
#include <zip.h>

#include <memory>

namespace vorneth::pack {
namespace {

// 1980-01-01 00:00 in MS-DOS form: time 0, date (year - 1980) << 9 |
// month << 5 | day.
constexpr zip_uint16_t kDosTime = 0;
constexpr zip_uint16_t kDosDate = (1 << 5) | 1;
constexpr zip_uint32_t kFolderAttributes = (static_cast<zip_uint32_t>(S_IFDIR | 0755) << 16) | 0x10;
constexpr zip_uint32_t kFileAttributes = static_cast<zip_uint32_t>(S_IFREG | 0644) << 16;

struct SourceDeleter {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using SourcePointer = std::unique_ptr<zip_source_t, SourceDeleter>;

// Discards an archive that was not closed.
struct ArchiveDeleter {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchivePointer = std::unique_ptr<zip_t, ArchiveDeleter>;

Status ArchiveFailure(zip_t* archive, const std::string& what) {
  return Status::Failed("ZIP archive: " + what + ": " + zip_strerror(archive));
}

// Adds one entry with the fixed stamp and attributes.
Status WriteEntry(zip_t* archive, const std::string& name, bool folder, const std::string& content) {
  zip_int64_t index = -1;
  if (folder) {
    index = zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_GUESS);
  } else {
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    if (source == nullptr) return ArchiveFailure(archive, name);
    index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) zip_source_free(source);
  }
  if (index < 0) return ArchiveFailure(archive, name);
  const auto entry = static_cast<zip_uint64_t>(index);
  if ((!folder && zip_set_file_compression(archive, entry, ZIP_CM_DEFLATE, 9) != 0) ||
      zip_file_set_dostime(archive, entry, kDosTime, kDosDate, 0) != 0 ||
      zip_file_set_external_attributes(archive, entry, 0, ZIP_OPSYS_UNIX,
                                       folder ? kFolderAttributes : kFileAttributes) != 0) {
    return ArchiveFailure(archive, name);
  }
  return Status::Ok();
}

// Everything a closed archive left in its buffer source.
Status ReadSource(zip_source_t* source, std::string& bytes) {
  zip_stat_t stat;
  if (zip_source_open(source) != 0) return Status::Failed("ZIP archive: cannot read back the written archive");
  bool ok = zip_source_stat(source, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) != 0;
  if (ok) {
    bytes.resize(stat.size);
    ok = zip_source_read(source, bytes.data(), stat.size) == static_cast<zip_int64_t>(stat.size);
  }
  zip_source_close(source);
  return ok ? Status::Ok() : Status::Failed("ZIP archive: cannot read back the written archive");
}

}  // namespace

Status ZipWriter::AddFolder(const std::string& name) {
  if (name.empty() || name.back() != '/') return Status::Failed("ZIP archive: folder name without final /: " + name);
  return Add(name, Entry{true, {}});
}

Status ZipWriter::AddFile(const std::string& name, std::string content) {
  if (name.empty() || name.back() == '/') return Status::Failed("ZIP archive: bad file name: " + name);
  return Add(name, Entry{false, std::move(content)});
}

Status ZipWriter::Add(const std::string& name, Entry entry) {
  if (!m_entries.emplace(name, std::move(entry)).second) {
    return Status::Failed("ZIP archive: entry added twice: " + name);
  }
  return Status::Ok();
}

Status ZipWriter::Finish(std::string& bytes) const {
  if (m_entries.empty()) return Status::Failed("ZIP archive: no entries");
  zip_error_t error;
  zip_error_init(&error);
  const SourcePointer source(zip_source_buffer_create(nullptr, 0, 0, &error));
  if (!source) return Status::Failed(std::string("ZIP archive: ") + zip_error_strerror(&error));
  // The archive takes a reference on open and drops it on close; the
  // written bytes must outlive that.
  zip_source_keep(source.get());
  ArchivePointer archive(zip_open_from_source(source.get(), ZIP_TRUNCATE, &error));
  if (!archive) {
    zip_source_free(source.get());
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    return Status::Failed("ZIP archive: " + why);
  }
  zip_error_fini(&error);
  for (const auto& [name, entry] : m_entries) {
    if (Status added = WriteEntry(archive.get(), name, entry.m_folder, entry.m_content); !added.ok()) return added;
  }
  if (zip_close(archive.get()) != 0) return ArchiveFailure(archive.get(), "writing");
  (void)archive.release();  // closed, and freed by zip_close
  return ReadSource(source.get(), bytes);
}

}  // namespace vorneth::pack
