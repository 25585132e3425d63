// Reading a whole regular file on Windows. FILE_FLAG_OPEN_REPARSE_POINT
// opens a link itself instead of its target, and the attributes and file
// type of the open handle then refuse anything but a plain disk file (a
// folder does not open without FILE_FLAG_BACKUP_SEMANTICS at all).
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/file_io_internal.h"
#include "platform/windows_text.h"

namespace vorneth::file_io {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : m_handle(handle) {}
  ~Handle() {
    if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

constexpr DWORD kChunk = 64 * 1024;

}  // namespace

std::string SystemError(const char* what) {
  return std::string(what) + ": error " + std::to_string(GetLastError());
}

FileRead ReadRegularFile(const std::string& path, uint64_t limit, std::string& content, std::string& why) {
  content.clear();
  const std::wstring wide = WindowsWide(path);
  if (wide.empty()) {
    why = "the path is not valid UTF-8";
    return FileRead::kFailed;
  }
  const Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRead::kAbsent;
    why = SystemError("cannot open");
    return FileRead::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info)) {
    why = SystemError("cannot examine");
    return FileRead::kFailed;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      GetFileType(file.get()) != FILE_TYPE_DISK) {
    why = "not a regular file";
    return FileRead::kFailed;
  }
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > limit) return FileRead::kTooLarge;
  std::string chunk(kChunk, '\0');
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), chunk.data(), kChunk, &got, nullptr)) {
      why = SystemError("cannot read");
      content.clear();
      return FileRead::kFailed;
    }
    if (got == 0) return FileRead::kRead;
    if (got > limit - content.size()) {
      content.clear();
      return FileRead::kTooLarge;
    }
    content.append(chunk.data(), got);
  }
}

}  // namespace vorneth::file_io
