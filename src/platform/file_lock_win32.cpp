#include <windows.h>

#include <string>

#include "platform/file_lock.h"
#include "platform/windows_text.h"

namespace vorneth {

FileLock::FileLock(const std::string& path) {
  const std::wstring widePath = WindowsWide(path);
  if (widePath.empty()) return;
  HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  handle_ = file;
  // The first byte, exclusively, waiting as long as another process holds it.
  OVERLAPPED range = {};
  locked_ = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != 0;
}

FileLock::~FileLock() {
  if (handle_ == nullptr) return;
  if (locked_) {
    OVERLAPPED range = {};
    UnlockFileEx(static_cast<HANDLE>(handle_), 0, 1, 0, &range);
  }
  CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace vorneth
