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

#include "platform/data_directory.h"
#include "platform/windows_text.h"
#include "platform/trace.h"

namespace vorneth {
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

bool GetDataDirectory(std::string& path) {
  TraceFunction trace("GetDataDirectory");
  std::wstring folder;
  if (!KnownFolder(folder)) return false;
  folder += L"\\";
  for (const char* c = kDataFolderName; *c != '\0'; ++c) folder += static_cast<wchar_t>(*c);

  std::string utf8;
  if (!WindowsUtf8(folder.data(), folder.size(), utf8) || !CreateDirectoryTree(utf8)) return false;

  wchar_t shortPath[kShortPathCapacity];
  const DWORD length = GetShortPathNameW(folder.c_str(), shortPath, kShortPathCapacity);
  if (length == 0 || length > kShortPathCapacity) return false;
  std::string result;
  if (!WindowsUtf8(shortPath, length, result)) return false;
  trace.Text("path.c_str ()", result);
  path = result;
  return true;
}

bool CreateDirectoryTree(const std::string& path) {
  const std::wstring wide = WindowsWide(path);
  if (wide.empty()) return false;
  const int result = SHCreateDirectoryExW(nullptr, wide.c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS;
}

bool DeleteDirectoryTree(const std::string& path) {
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

}  // namespace vorneth
