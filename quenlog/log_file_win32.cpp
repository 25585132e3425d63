// The trace file on Windows: every handle shares reading, writing and
// deleting (so another process may rename the file away while it is open),
// each write goes to the end of the file (the offset 0xFFFFFFFF:0xFFFFFFFF),
// and a byte-range lock far past any end serialises rotations between
// processes without blocking a write.
#include <windows.h>

#include "log_file.h"
#include "platform/windows_text.h"

namespace quenlog {
namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED LockPlace() {
  OVERLAPPED place = {};
  place.Offset = kLockOffsetLow;
  place.OffsetHigh = kLockOffsetHigh;
  return place;
}

}  // namespace

bool LogFile::Open(const std::string& path) {
  Close();
  const std::wstring wide = vorneth::WindowsWide(path);
  if (wide.empty()) return false;
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  m_handle = reinterpret_cast<intptr_t>(file);
  return true;
}

void LogFile::Close() {
  if (m_handle == kNoHandle) return;
  CloseHandle(Handle(m_handle));
  m_handle = kNoHandle;
}

bool LogFile::Append(std::string_view line, uint64_t& size) {
  if (!IsOpen()) return false;
  OVERLAPPED atEnd = {};
  atEnd.Offset = 0xFFFFFFFF;
  atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  if (!WriteFile(Handle(m_handle), line.data(), static_cast<DWORD>(line.size()), &written, &atEnd) ||
      written != line.size()) {
    return false;
  }
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(Handle(m_handle), &length)) return false;
  size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool LogFile::LockForRotation() {
  if (!IsOpen()) return false;
  OVERLAPPED place = LockPlace();
  return LockFileEx(Handle(m_handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place) != 0;
}

void LogFile::UnlockRotation() {
  if (!IsOpen()) return;
  OVERLAPPED place = LockPlace();
  UnlockFileEx(Handle(m_handle), 0, 1, 0, &place);
}

bool LogFile::Names(const std::string& path) const {
  if (!IsOpen()) return false;
  const std::wstring wide = vorneth::WindowsWide(path);
  if (wide.empty()) return false;
  HANDLE named = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION open = {}, other = {};
  const bool same = GetFileInformationByHandle(Handle(m_handle), &open) && GetFileInformationByHandle(named, &other) &&
                    open.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                    open.nFileIndexHigh == other.nFileIndexHigh && open.nFileIndexLow == other.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool LogFile::Rename(const std::string& from, const std::string& to) {
  const std::wstring wideFrom = vorneth::WindowsWide(from);
  const std::wstring wideTo = vorneth::WindowsWide(to);
  if (wideFrom.empty() || wideTo.empty()) return false;
  return MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace quenlog
