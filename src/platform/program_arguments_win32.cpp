#include <windows.h>
#include <shellapi.h>

#include "platform/program_arguments.h"
#include "platform/windows_text.h"

namespace vorneth {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 0; i < count; ++i) {
      std::string utf8;
      if (!WindowsUtf8(wide[i], wcslen(wide[i]), utf8)) break;
      arguments.push_back(std::move(utf8));
    }
    LocalFree(wide);
    if (static_cast<int>(arguments.size()) == count && count == argc) return arguments;
  }
  arguments.clear();
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace vorneth
