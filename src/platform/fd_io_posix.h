// Blocking writes to a POSIX file descriptor. Internal to the POSIX side of
// the platform layer.
#ifndef VORNETH_PLATFORM_FD_IO_POSIX_H_
#define VORNETH_PLATFORM_FD_IO_POSIX_H_

#include <errno.h>
#include <unistd.h>

#include <cstddef>

namespace vorneth {

// Writes all `size` bytes, going on after partial writes and interrupted
// calls. False on the first real error; some bytes may have been written.
inline bool WriteAllToFd(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FD_IO_POSIX_H_
