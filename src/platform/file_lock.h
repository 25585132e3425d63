// An exclusive advisory lock on a lock file, shared by every process of the
// user that opens the same file.
//
// The lock file is opened (created with mode 0600 when missing) without
// following a symbolic link and without blocking on the open, and must be a
// regular file: a link, a FIFO, a device or a folder at that path refuses the
// lock and nothing is created elsewhere. Taking the lock waits at most the
// time given to the constructor: a process that holds the lock and hangs
// must not stop its peers for good. The wait polls (the non-blocking form of
// the lock, tried again after short pauses) rather than blocking, so it ends
// at its deadline on every platform. The lock belongs to the object: it is
// released when the object goes, and by the system when the process dies.
//
// One object per holder; the object is used by the thread that made it.
#ifndef VORNETH_PLATFORM_FILE_LOCK_H_
#define VORNETH_PLATFORM_FILE_LOCK_H_

#include <chrono>
#include <string>

#include "platform/status.h"

namespace vorneth {

class FileLock {
 public:
  // Opens `path` and tries to lock it until `wait` has passed (at least one
  // try, also for a wait of zero). When the file cannot be opened or locked,
  // or another holder kept it for the whole wait, status() says why (traced)
  // and the object holds nothing; held_elsewhere() tells the last case apart.
  FileLock(const std::string& path, std::chrono::milliseconds wait);
  ~FileLock();  // releases the lock and closes the file
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return m_status.ok(); }
  // True when the wait ended because another holder kept the lock.
  bool held_elsewhere() const { return m_heldElsewhere; }
  const Status& status() const { return m_status; }

 private:
  // What one try of the non-blocking lock found.
  enum class Attempt { kLocked, kHeldElsewhere, kFailed };

  // Opens the file and takes the lock, waiting until `deadline`.
  Status OpenAndLock(const std::string& path, std::chrono::steady_clock::time_point deadline);

  // The platform halves (file_lock_<platform>.cpp). Open opens `path`, which
  // is valid UTF-8, and checks that it is a regular file; on failure it
  // leaves nothing open. TryLock tries once without waiting on the open
  // file (`why` says what failed on kFailed). Close closes the file without
  // unlocking; Unlock releases the lock, then closes.
  Status Open(const std::string& path);
  Attempt TryLock(std::string& why);
  void Close();
  void Unlock();

#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
  bool m_heldElsewhere = false;
  Status m_status = Status::Failed("not locked");
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_LOCK_H_
