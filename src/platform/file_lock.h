// An exclusive advisory lock on a lock file, shared by every process of the
// user that opens the same file.
#ifndef VORNETH_PLATFORM_FILE_LOCK_H_
#define VORNETH_PLATFORM_FILE_LOCK_H_

#include <string>

namespace vorneth {

class FileLock {
 public:
  // Opens (creating if needed) `path` and waits until the lock is held.
  // When the file cannot be opened or locked, locked() is false and the
  // object holds nothing.
  explicit FileLock(const std::string& path);
  ~FileLock();  // releases the lock and closes the file
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return locked_; }

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool locked_ = false;
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_FILE_LOCK_H_
