// FileReaderWriter::WriteFileAtomically on POSIX systems: a temporary file in the
// target's folder, flushed to disk, then rename(2), which replaces the
// directory entry in one step. The folder is flushed afterwards so that the
// rename itself survives a crash.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/fd_io_posix.h"
#include "platform/file_reader_writer.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// Owns the temporary file: closes it and, unless committed, removes it.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TemporaryFile() {
    CloseFd();
    if (!committed_) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor; false when close reports a write-back error.
  bool CloseFd() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }
  void Commit() { committed_ = true; }

 private:
  int fd_;
  std::string path_;
  bool committed_ = false;
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

bool FileReaderWriter::WriteFileAtomically(const std::string& path, const std::string& content) {
  TraceFunction trace("FileReaderWriter::WriteFileAtomically");
  trace.Text("filePath.c_str ()", path);

  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return false;

  // "<folder>/<name>.XXXXXX.tmp": mkostemps fills in the X's and creates the
  // file exclusively with mode 0600.
  const std::string pattern = (slash == std::string::npos ? std::string() : folder) + name + ".XXXXXX.tmp";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkostemps(buffer.data(), 4, O_CLOEXEC);
  if (fd < 0) return false;
  TemporaryFile temporary(fd, std::string(buffer.data()));

  // Keep the permissions of the file being replaced.
  struct stat info{};
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) fchmod(temporary.fd(), info.st_mode & 07777);

  if (!WriteAllToFd(temporary.fd(), content.data(), content.size())) return false;
  if (!SyncFd(temporary.fd())) return false;
  if (!temporary.CloseFd()) return false;
  if (rename(temporary.path().c_str(), path.c_str()) != 0) return false;
  temporary.Commit();

  // The new content is in place from here on; flushing the folder only makes
  // the rename durable, and some file systems cannot flush a folder at all,
  // so its outcome does not change the result.
  const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    SyncFd(folder_fd);
    close(folder_fd);
  }
  trace.SetResult(1);
  return true;
}

}  // namespace vorneth
