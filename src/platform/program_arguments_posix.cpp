#include "platform/program_arguments.h"

namespace vorneth {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace vorneth
