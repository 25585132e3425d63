#include <windows.h>

#include <string>

#include "platform/windows_text.h"
#include "system_info.h"

namespace quenlog {

uint64_t CurrentProcessId() {
  return GetCurrentProcessId();
}

uint64_t CurrentThreadId() {
  return GetCurrentThreadId();
}

// The process's own environment, not the runtime's copy of it.
bool EnvironmentFlag(const char* name) {
  const std::wstring wide = vorneth::WindowsWide(name);
  wchar_t value[4] = {};
  const DWORD length = GetEnvironmentVariableW(wide.c_str(), value, 4);
  return length == 1 && value[0] == L'1';
}

}  // namespace quenlog
