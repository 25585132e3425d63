// Replacing a file in one step on POSIX systems: a temporary file in the
// target's folder, flushed to disk, then rename(2), which replaces the
// directory entry in one step (a link there is replaced, never followed). The
// folder is flushed afterwards so that the rename itself survives a crash.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/fd_io_posix.h"
#include "platform/file_io_internal.h"
#include "platform/status.h"

namespace vorneth::file_io {
namespace {

std::string SystemError(const char* what) {
  return ErrnoText(what, errno);
}

// Owns the temporary file: closes it and, unless committed, removes it.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
  ~TemporaryFile() {
    (void)CloseFd();  // only reached on a failure already reported
    if (!m_committed) unlink(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return m_fd; }
  const std::string& path() const { return m_path; }
  // Closes the descriptor; false when close reports a write-back error.
  bool CloseFd() {
    if (m_fd < 0) return true;
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
  }
  void Commit() { m_committed = true; }

 private:
  int m_fd;
  std::string m_path;
  bool m_committed = false;
};

bool SyncFd(int fd) {
  // Bounded: a signal storm must not keep the caller here for ever.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (fsync(fd) == 0) return true;
    if (errno != EINTR) return false;
  }
  return false;
}

}  // namespace

Status ReplaceWhole(const std::string& path, const std::string& folder, const std::string& content) {
  // "<path>.XXXXXX.tmp": mkostemps fills in the X's and creates the file
  // exclusively with mode 0600.
  const std::string pattern = path + ".XXXXXX.tmp";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkostemps(buffer.data(), 4, O_CLOEXEC);
  if (fd < 0) return Status::Failed(SystemError("cannot create a temporary file"));
  TemporaryFile temporary(fd, std::string(buffer.data()));

  // Keep the permissions of the regular file being replaced.
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && fchmod(temporary.fd(), info.st_mode & 07777) != 0) {
    return Status::Failed(SystemError("cannot copy the permissions"));
  }
  if (!WriteAllToFd(temporary.fd(), content.data(), content.size())) return Status::Failed(SystemError("cannot write"));
  if (!SyncFd(temporary.fd())) return Status::Failed(SystemError("cannot flush"));
  if (!temporary.CloseFd()) return Status::Failed(SystemError("cannot close"));
  if (rename(temporary.path().c_str(), path.c_str()) != 0) return Status::Failed(SystemError("cannot rename"));
  temporary.Commit();

  // The new content is in place from here on; flushing the folder only makes
  // the rename durable, and some file systems cannot flush a folder at all,
  // so its outcome does not change the result.
  const int folder_fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    (void)SyncFd(folder_fd);
    close(folder_fd);
  }
  return Status::Ok();
}

}  // namespace vorneth::file_io
