#include <windows.h>
// windows.h first: the shell header relies on it.
#include <shellapi.h>

#include "platform/program_arguments_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {

std::optional<std::vector<std::string>> FullArguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::nullopt;
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    std::string utf8;
    if (!WindowsUtf8(wide[i], wcslen(wide[i]), utf8)) break;
    arguments.push_back(std::move(utf8));
  }
  LocalFree(wide);
  if (static_cast<int>(arguments.size()) != count) return std::nullopt;
  return arguments;
}

}  // namespace vorneth::native
