// vorneth-cli: talks to vorneth-host the way the browser does, for people
// and scripts (session.h says how; options.cpp holds its --help text).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "platform/program_arguments.h"
#include "session.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = vorneth::ProgramArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  bool help = false;
  const std::optional<vorneth::cli::Options> options = vorneth::cli::ParseOptions(arguments, help);
  if (help) {
    std::fputs(vorneth::cli::kUsage, stdout);
    return 0;
  }
  if (!options) return vorneth::cli::kExitUsage;
  return vorneth::cli::Run(*options);
}
