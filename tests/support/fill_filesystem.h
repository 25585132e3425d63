// Fills a small file system (small_filesystem.h) to its last byte with one
// filler file, so that the next write there fails with "no space left".
// Linux only, like the file systems it fills. The filler is an ordinary
// file: removing it gives the space back.
#ifndef VORNETH_TESTS_SUPPORT_FILL_FILESYSTEM_H_
#define VORNETH_TESTS_SUPPORT_FILL_FILESYSTEM_H_

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace vorneth::testing {

// Writes zeros to `path` (created or truncated) until the file system says
// it is full; at most `limit` bytes, which should exceed its size. True
// when the file system is full afterwards: a write of one more byte fails
// with ENOSPC.
inline bool FillFilesystem(const std::string& path, uint64_t limit) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::vector<char> chunk(64 * 1024, '\0');
  uint64_t written = 0;
  int error = 0;
  // Big chunks first, then single bytes for what a short write left.
  for (size_t size = chunk.size(); size > 0 && written <= limit; size /= 16) {
    for (;;) {
      const ssize_t result = ::write(fd, chunk.data(), size);
      if (result > 0) {
        written += static_cast<uint64_t>(result);
        if (written > limit) break;
        continue;
      }
      error = result < 0 ? errno : 0;
      if (error != EINTR) break;
    }
  }
  const bool full = error == ENOSPC && ::write(fd, chunk.data(), 1) < 0 && errno == ENOSPC;
  ::close(fd);
  return full;
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_FILL_FILESYSTEM_H_
