#include <windows.h>

#include <string>

#include "platform/trace_library_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {
namespace {

constexpr char kTraceLibraryName[] = "Quenlog.dll";
constexpr wchar_t kRegistryKey[] = L"SOFTWARE\\ORVESSA\\AUTHENTICATION";
constexpr wchar_t kRegistryValue[] = L"Path";
// The library's installer keeps a build for each word size in the folder
// it registers; a process can load only a library of its own word size.
#if defined(_WIN64)
constexpr char kLibraryFolder[] = "\\Quen\\x64\\";
#else
constexpr char kLibraryFolder[] = "\\Quen\\x32\\";
#endif

// A 32-bit process on 64-bit Windows reads the 64-bit view of the registry,
// where the library's installer records its folder (a 64-bit process reads
// that view anyway).
bool IsWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  if (kernel == nullptr) return false;
  auto isWow64Process =
      reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
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
  size_t length = size / sizeof(wchar_t);
  while (length > 0 && buffer[length - 1] == L'\0') --length;
  std::string utf8;
  if (length == 0 || !WindowsUtf8(buffer, length, utf8)) return {};
  return utf8;
}

}  // namespace

const char* TraceLibraryName() {
  return kTraceLibraryName;
}

std::string RegisteredTraceLibrary() {
  const std::string registered = RegisteredDirectory();
  if (registered.empty()) return {};
  return registered + kLibraryFolder + kTraceLibraryName;
}

}  // namespace vorneth::native
