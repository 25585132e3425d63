// The data directory and directory trees on Windows, through the shell: the
// user's low-integrity local application data folder, followed by "Vorneth",
// in its short path form.
#include <windows.h>
// windows.h first: the shell headers rely on it.
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/data_directory_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {
namespace {

// {A520A1A4-1780-4FF6-BD18-167343C5AF16}
constexpr GUID kLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
constexpr DWORD kCreateFolder = 0x8000;  // KF_FLAG_CREATE
constexpr DWORD kShortPathCapacity = 260;

// The known folder through the shell library the process has loaded, as the
// system's own lookup; false when the shell or the folder is unavailable.
bool KnownFolder(std::wstring& path) {
  using GetKnownFolderPath = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  if (shell == nullptr) return false;
  auto getKnownFolderPath =
      reinterpret_cast<GetKnownFolderPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
  if (getKnownFolderPath == nullptr) return false;
  PWSTR folder = nullptr;
  const HRESULT result = getKnownFolderPath(kLocalAppDataLow, kCreateFolder, nullptr, &folder);
  if (folder != nullptr) {
    if (SUCCEEDED(result)) path = folder;
    CoTaskMemFree(folder);
  }
  return SUCCEEDED(result) && !path.empty();
}

}  // namespace

std::optional<std::string> UserDataFolder(const EnvironmentLookup& /*environment*/) {
  std::wstring folder;
  std::string utf8;
  if (!KnownFolder(folder) || !WindowsUtf8(folder.data(), folder.size(), utf8)) return std::nullopt;
  while (utf8.size() > 3 && (utf8.back() == '\\' || utf8.back() == '/')) utf8.pop_back();
  return utf8;
}

std::optional<std::string> HandedOutForm(const std::string& directory) {
  const std::wstring wide = WindowsWide(directory);
  if (wide.empty()) return std::nullopt;
  wchar_t shortPath[kShortPathCapacity];
  const DWORD length = GetShortPathNameW(wide.c_str(), shortPath, kShortPathCapacity);
  if (length == 0 || length > kShortPathCapacity) return std::nullopt;
  std::string result;
  if (!WindowsUtf8(shortPath, length, result)) return std::nullopt;
  return result;
}

bool CreateDirectories(const std::string& path) {
  const std::wstring wide = WindowsWide(path);
  if (wide.empty()) return false;
  const int result = SHCreateDirectoryExW(nullptr, wide.c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS;
}

bool DeleteTree(const std::string& path) {
  std::wstring wide = WindowsWide(path);
  if (wide.empty()) return false;
  // The shell takes a list of names ended by an empty name; a trailing
  // separator would make the name a different one.
  while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  std::vector<wchar_t> source(wide.begin(), wide.end());
  source.push_back(L'\0');
  source.push_back(L'\0');
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = source.data();
  // Deleted for good (no undo flag), without progress, question or error
  // window: the host has no window and nobody to answer one.
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationW(&operation) == 0;
}

// Without MOVEFILE_COPY_ALLOWED the move stays a rename on the volume, one
// step; without MOVEFILE_REPLACE_EXISTING an existing `to` fails it (a folder
// is never replaced anyway).
bool RenameFolder(const std::string& from, const std::string& to) {
  const std::wstring wideFrom = WindowsWide(from);
  const std::wstring wideTo = WindowsWide(to);
  if (wideFrom.empty() || wideTo.empty()) return false;
  return MoveFileExW(wideFrom.c_str(), wideTo.c_str(), 0) != 0;
}

}  // namespace vorneth::native
