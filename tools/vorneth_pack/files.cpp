#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file_reader_writer.h"

namespace vorneth::pack {
namespace {

// Writes all of `bytes` to `fd`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

Status ReadWholeFile(const std::string& path, std::string_view what, std::string& content, uint64_t limit) {
  switch (FileReaderWriter::ReadFile(path, content, limit)) {
    case FileRead::kRead:
      return Status::Ok();
    case FileRead::kAbsent:
      return Status::Failed(std::string(what) + " " + path + ": no such file");
    case FileRead::kTooLarge:
      return Status::Failed(std::string(what) + " " + path + ": larger than " + std::to_string(limit) + " bytes");
    case FileRead::kFailed:
      break;
  }
  return Status::Failed(std::string(what) + " " + path +
                        ": cannot be read (not a regular file, a symbolic link, or no permission)");
}

Status WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) {
    if (errno == EEXIST) return Status::Failed(path + ": already exists; not overwritten");
    return ErrnoFailure("cannot create " + path, errno);
  }
  bool ok = WriteAll(fd, bytes);
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(path.c_str());
    return ErrnoFailure("cannot write " + path, error);
  }
  return Status::Ok();
}

Status ReplaceFile(const std::string& path, const std::string& bytes) {
  const Status status = FileReaderWriter::WriteFileAtomically(path, bytes);
  if (!status.ok()) return Status::Failed("cannot write " + path + ": " + status.why());
  return Status::Ok();
}

}  // namespace vorneth::pack
