// Reading a whole regular file on POSIX systems. O_NOFOLLOW refuses a
// symbolic link in the last component (ELOOP) and O_NONBLOCK keeps the open
// of a FIFO or a device from waiting for a peer; fstat then refuses anything
// but a regular file before a single byte is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/fd_io_posix.h"
#include "platform/file_io_internal.h"
#include "platform/status.h"

namespace vorneth::file_io {
namespace {

constexpr size_t kChunk = size_t{64} * 1024;

}  // namespace

FileRead ReadRegularFile(const std::string& path, uint64_t limit, std::string& content, std::string& why) {
  content.clear();
  const UniqueFd file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return FileRead::kAbsent;
    why = ErrnoText("cannot open", errno);
    return FileRead::kFailed;
  }
  struct stat info {};
  if (fstat(file.get(), &info) != 0) {
    why = ErrnoText("cannot examine", errno);
    return FileRead::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
    return FileRead::kFailed;
  }
  if (static_cast<uint64_t>(info.st_size) > limit) return FileRead::kTooLarge;
  // The size is only a hint: a file that grows or shrinks while being read
  // yields what was there, up to the limit.
  if (info.st_size > 0) content.reserve(static_cast<size_t>(info.st_size));
  char buffer[kChunk];
  for (;;) {
    const ssize_t got = read(file.get(), buffer, sizeof buffer);
    if (got == 0) return FileRead::kRead;
    if (got < 0) {
      if (errno == EINTR) continue;
      why = ErrnoText("cannot read", errno);
      content.clear();
      return FileRead::kFailed;
    }
    if (static_cast<uint64_t>(got) > limit - content.size()) {
      content.clear();
      return FileRead::kTooLarge;
    }
    content.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace vorneth::file_io
