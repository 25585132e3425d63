// FileLock on POSIX systems: flock(2) on a descriptor of the lock file. The
// lock belongs to the open file description, so it is released when the
// descriptor is closed, also when the process dies. O_NOFOLLOW refuses a
// link (nothing is created at its target) and O_NONBLOCK keeps the open of a
// FIFO or device from waiting; fstat then refuses anything but a regular
// file. LOCK_NB makes each try return at once.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/file_lock.h"

namespace vorneth {

Status FileLock::Open(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return ErrnoFailure("cannot open the lock file", errno);
  struct stat info {};
  Status status = Status::Ok();
  if (fstat(fd, &info) != 0) {
    status = ErrnoFailure("cannot examine the lock file", errno);
  } else if (!S_ISREG(info.st_mode)) {
    status = Status::Failed("the lock file is not a regular file");
  }
  if (!status.ok()) {
    close(fd);
    return status;
  }
  m_fd = fd;
  return status;
}

FileLock::Attempt FileLock::TryLock(std::string& why) {
  int result;
  do {
    result = flock(m_fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return Attempt::kLocked;
  if (errno == EWOULDBLOCK) return Attempt::kHeldElsewhere;
  why = ErrnoText("flock", errno);
  return Attempt::kFailed;
}

void FileLock::Close() {
  close(m_fd);
  m_fd = -1;
}

void FileLock::Unlock() {
  flock(m_fd, LOCK_UN);
  Close();
}

}  // namespace vorneth
