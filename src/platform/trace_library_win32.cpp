#include "platform/trace_library.h"

#include <windows.h>

#include <string>

#include "platform/dynamic_library.h"
#include "platform/text_conversion.h"

namespace vorneth {
namespace {

constexpr char kTraceLibraryName[] = "Quenlog.dll";
constexpr wchar_t kRegistryKey[] = L"SOFTWARE\\ORVESSA\\AUTHENTICATION";
constexpr wchar_t kRegistryValue[] = L"Path";

// A 32-bit process on 64-bit Windows reads the 64-bit view of the registry,
// where the library's installer records its folder.
bool IsWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  if (kernel == nullptr) return false;
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The folder named by the registry value, or empty.
std::string RegisteredDirectory() {
  REGSAM access = KEY_READ;
  if (IsWow64()) access |= KEY_WOW64_64KEY;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, access, &key) != ERROR_SUCCESS) return {};
  wchar_t buffer[MAX_PATH] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);  // room for a terminator the value may lack
  const LONG result = RegQueryValueExW(key, kRegistryValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return {};
  std::u16string directory(buffer, buffer + size / sizeof(wchar_t));
  while (!directory.empty() && directory.back() == u'\0') directory.pop_back();
  std::string utf8;
  if (directory.empty() || !WideToUtf8(directory, utf8)) return {};
  return utf8;
}

}  // namespace

void* FindTraceLibrary() {
  if (void* library = FindLoadedLibrary(kTraceLibraryName)) return library;
  if (void* library = LoadDynamicLibrary(kTraceLibraryName)) return library;
  std::string directory = ExecutableDirectory();
  if (!directory.empty()) {
    if (directory.back() != '\\') directory += '\\';
    if (void* library = LoadDynamicLibrary(directory + kTraceLibraryName)) return library;
  }
  const std::string registered = RegisteredDirectory();
  if (registered.empty()) return nullptr;
  return LoadDynamicLibrary(registered + "\\Quen\\x32\\" + kTraceLibraryName);
}

}  // namespace vorneth
