// keygen PRIVATE.pem PUBLIC.pem
#include "commands.h"
#include "key_pair.h"

namespace vorneth::pack {

int RunKeygen(const Arguments& args) {
  CommandLine line;
  if (const std::optional<int> status = ParseArguments(args, {}, line)) return *status;
  if (line.Positional().size() != 2) {
    return ReportUsage(Status::Failed("keygen takes two files: PRIVATE.pem PUBLIC.pem"));
  }
  if (Status made = GenerateKeyPair(line.Positional()[0], line.Positional()[1]); !made.ok()) {
    return Report(made, kExitFailure);
  }
  return kExitOk;
}

}  // namespace vorneth::pack
