#include "platform/program_arguments.h"

#include "platform/program_arguments_native.h"

namespace vorneth {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // The platform's own form counts only when it names as many arguments as
  // argv does: otherwise the two were split differently.
  if (std::optional<std::vector<std::string>> full = native::FullArguments();
      full && argc >= 0 && full->size() == static_cast<size_t>(argc)) {
    return std::move(*full);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace vorneth
