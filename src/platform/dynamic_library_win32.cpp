#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/dynamic_library_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {

void* OpenLibrary(const std::string& path) {
  // Paths are UTF-8; the wide call keeps names outside the ANSI code page
  // intact and behaves as LoadLibraryA for everything else.
  const std::wstring widePath = WindowsWide(path);
  if (widePath.empty()) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryW(widePath.c_str()));
}

void* FindLoadedLibrary(const std::string& name) {
  const std::wstring wideName = WindowsWide(name);
  if (wideName.empty()) return nullptr;
  return reinterpret_cast<void*>(GetModuleHandleW(wideName.c_str()));
}

void* LookupSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string ExecutablePath() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string utf8;
  if (!WindowsUtf8(buffer, length, utf8)) return {};
  return utf8;
}

const char* PathSeparators() {
  return "\\/";
}

}  // namespace vorneth::native

namespace vorneth {

bool SetLibrarySearchDirectory(const std::string& directory) {
  // The empty text first takes the current folder out of the search, then
  // the directory goes in; the two steps keep an old directory from staying
  // when the new one is refused. Paths are UTF-8: the wide calls keep names
  // outside the ANSI code page intact.
  const std::wstring wideDirectory = WindowsWide(directory);
  if (!SetDllDirectoryW(L"") || wideDirectory.empty() || !SetDllDirectoryW(wideDirectory.c_str())) return false;
  // Systems before Windows 8 without its update lack the call: looked up, not
  // imported, so the host still starts there.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
  // The system folder and the directories the program added, nothing else.
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
  return true;
}

}  // namespace vorneth
