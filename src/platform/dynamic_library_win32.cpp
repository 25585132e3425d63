#include "platform/dynamic_library.h"

#include <windows.h>

#include "platform/windows_text.h"

namespace vorneth {

void* LoadDynamicLibrary(const std::string& path) {
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
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string ExecutableDirectory() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring path(buffer, length);
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  // "C:\host.exe" keeps its root separator.
  path.resize(separator == 2 && path[1] == L':' ? 3 : separator);
  std::string utf8;
  if (!WindowsUtf8(path.data(), path.size(), utf8)) return {};
  return utf8;
}

bool SetLibrarySearchDirectory(const std::string& directory) {
  // Dependencies of an add-on library are found in its own folder and the
  // system folder, never in the current folder.
  if (!SetDllDirectoryA(directory.c_str())) return false;
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS) != 0;
}

}  // namespace vorneth
