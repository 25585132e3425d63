// FileLock on POSIX systems: flock(2) on a descriptor of the lock file. The
// lock belongs to the open file description, so it is released when the
// descriptor is closed, also when the process dies.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

namespace vorneth {

FileLock::FileLock(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  int result;
  do {
    result = flock(fd_, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd_);
    fd_ = -1;
    return;
  }
  locked_ = true;
}

FileLock::~FileLock() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  close(fd_);
}

}  // namespace vorneth
