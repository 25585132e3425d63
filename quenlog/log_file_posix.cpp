// The trace file on POSIX systems: O_APPEND places each write at the end of
// the file as one step, flock() serialises rotations between processes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "log_file.h"
#include "platform/fd_io_posix.h"

namespace quenlog {
namespace {

int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

bool LogFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  m_handle = fd;
  return true;
}

void LogFile::Close() {
  if (m_handle == kNoHandle) return;
  ::close(Fd(m_handle));
  m_handle = kNoHandle;
}

bool LogFile::Append(std::string_view line, uint64_t& size) {
  if (!IsOpen() || !vorneth::WriteAllToFd(Fd(m_handle), line.data(), line.size())) return false;
  // With O_APPEND the offset after a write is the end of the file then.
  const off_t end = ::lseek(Fd(m_handle), 0, SEEK_CUR);
  if (end < 0) return false;
  size = static_cast<uint64_t>(end);
  return true;
}

bool LogFile::LockForRotation() {
  if (!IsOpen()) return false;
  while (::flock(Fd(m_handle), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void LogFile::UnlockRotation() {
  if (IsOpen()) ::flock(Fd(m_handle), LOCK_UN);
}

bool LogFile::Names(const std::string& path) const {
  struct stat open {
  }, named{};
  if (!IsOpen() || ::fstat(Fd(m_handle), &open) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool LogFile::Rename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace quenlog
