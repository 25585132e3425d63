// An exclusive advisory lock on a lock file, shared by every process of the
// user that opens the same file.
//
// The lock file is opened (created with mode 0600 when missing) without
// following a symbolic link and without blocking on the open, and must be a
// regular file: a link, a FIFO, a device or a folder at that path refuses the
// lock and nothing is created elsewhere. Taking the lock itself waits as long
// as another process holds it. The lock belongs to the object: it is released
// when the object goes, and by the system when the process dies.
//
// One object per holder; the object is used by the thread that made it.
#ifndef VORNETH_PLATFORM_FILE_LOCK_H_
#define VORNETH_PLATFORM_FILE_LOCK_H_

#include <string>

#include "platform/status.h"

namespace vorneth {

class FileLock {
 public:
  // Opens `path` and waits until the lock is held. When the file cannot be
  // opened or locked, status() says why (traced) and the object holds
  // nothing.
  explicit FileLock(const std::string& path);
  ~FileLock();  // releases the lock and closes the file
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return m_status.ok(); }
  const Status& status() const { return m_status; }

 private:
  // The platform halves (file_lock_<platform>.cpp). Lock opens and locks
  // `path`, which is valid UTF-8; on failure it leaves nothing open.
  Status Lock(const std::string& path);
  void Unlock();

#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
  Status m_status = Status::Failed("not locked");
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_LOCK_H_
