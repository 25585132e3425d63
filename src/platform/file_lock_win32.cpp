// FileLock on Windows: LockFileEx on the first byte of the lock file.
// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target
// (nothing is created there), and the handle's attributes and file type then
// refuse anything but a plain disk file.
#include <windows.h>

#include <string>

#include "platform/file_lock.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

Status SystemFailure(const char* what) {
  return Status::Failed(std::string(what) + ": error " + std::to_string(GetLastError()));
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
         GetFileType(file) == FILE_TYPE_DISK;
}

}  // namespace

Status FileLock::Lock(const std::string& path) {
  const std::wstring widePath = WindowsWide(path);
  if (widePath.empty()) return Status::Failed("the path is not valid UTF-8");
  HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemFailure("cannot open the lock file");
  if (!IsPlainFile(file)) {
    CloseHandle(file);
    return Status::Failed("the lock file is not a regular file");
  }
  // The first byte, exclusively, waiting as long as another process holds it.
  OVERLAPPED range = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) {
    const Status failure = SystemFailure("cannot lock");
    CloseHandle(file);
    return failure;
  }
  m_handle = file;
  return Status::Ok();
}

void FileLock::Unlock() {
  OVERLAPPED range = {};
  UnlockFileEx(static_cast<HANDLE>(m_handle), 0, 1, 0, &range);
  CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
}

}  // namespace vorneth
