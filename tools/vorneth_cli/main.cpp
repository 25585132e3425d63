// vorneth-cli: talks to vorneth-host the way the browser does, for people
// and scripts (session.h says how; options.cpp holds its --help text).
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "platform/program_arguments.h"
#include "session.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = vorneth::ProgramArguments(argc, argv);
  if (!arguments.empty()) arguments.erase(arguments.begin());
  vorneth::cli::Options options;
  if (const std::optional<int> status = vorneth::cli::ParseOptions(arguments, options)) return *status;
  return vorneth::cli::Run(options);
}
