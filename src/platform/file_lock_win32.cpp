// FileLock on Windows: LockFileEx on the first byte of the lock file.
// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than its target
// (nothing is created there), and the handle's attributes and file type then
// refuse anything but a plain disk file. LOCKFILE_FAIL_IMMEDIATELY makes
// each try return at once; a range held by another handle fails with
// ERROR_LOCK_VIOLATION.
#include <windows.h>

#include <string>

#include "platform/file_lock.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

std::string ErrorText(const char* what, DWORD error) {
  return std::string(what) + ": error " + std::to_string(error);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
         GetFileType(file) == FILE_TYPE_DISK;
}

}  // namespace

Status FileLock::Open(const std::string& path) {
  const std::wstring widePath = WindowsWide(path);
  if (widePath.empty()) return Status::Failed("the path is not valid UTF-8");
  HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::Failed(ErrorText("cannot open the lock file", GetLastError()));
  if (!IsPlainFile(file)) {
    CloseHandle(file);
    return Status::Failed("the lock file is not a regular file");
  }
  m_handle = file;
  return Status::Ok();
}

FileLock::Attempt FileLock::TryLock(std::string& why) {
  // The first byte, exclusively.
  OVERLAPPED range = {};
  if (LockFileEx(static_cast<HANDLE>(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    return Attempt::kLocked;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION) return Attempt::kHeldElsewhere;
  why = ErrorText("LockFileEx", error);
  return Attempt::kFailed;
}

void FileLock::Close() {
  CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
}

void FileLock::Unlock() {
  OVERLAPPED range = {};
  UnlockFileEx(static_cast<HANDLE>(m_handle), 0, 1, 0, &range);
  Close();
}

}  // namespace vorneth
