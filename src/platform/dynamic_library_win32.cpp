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
  // Dependencies of an add-on library are found in its own folder and the
  // system folder, never in the current folder.
  if (!SetDllDirectoryA(directory.c_str())) return false;
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS) != 0;
}

}  // namespace vorneth
