// POSIX file descriptors: an owner that closes them, and blocking writes.
// Internal to the POSIX side of the platform layer.
#ifndef VORNETH_PLATFORM_FD_IO_POSIX_H_
#define VORNETH_PLATFORM_FD_IO_POSIX_H_

#include <errno.h>
#include <unistd.h>

#include <cstddef>

namespace vorneth {

// Owns one descriptor (or none, when negative) and closes it on destruction.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() {
    if (m_fd >= 0) close(m_fd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return m_fd; }
  // Closes the descriptor held, if any, and takes `fd` (-1: none).
  void reset(int fd) {
    if (m_fd >= 0) close(m_fd);
    m_fd = fd;
  }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

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
