// sign --key PRIVATE.pem FILE: prints the signature of the file's bytes.
#include <cstdio>

#include "commands.h"
#include "files.h"
#include "signing_key.h"

namespace vorneth::pack {

constexpr OptionSpec kSignOptions[] = {{"key", OptionKind::kValue}};

int RunSign(const Arguments& args) {
  CommandLine line;
  if (const std::optional<int> status = ParseArguments(args, kSignOptions, line)) return *status;
  if (!line.Has("key")) return ReportUsage(Status::Failed("sign needs --key PRIVATE.pem"));
  if (line.Positional().size() != 1) return ReportUsage(Status::Failed("sign takes one FILE"));
  SigningKey key;
  if (Status loaded = SigningKey::Load(line.Value("key"), key); !loaded.ok()) return Report(loaded, kExitFailure);
  std::string content;
  if (Status read = ReadWholeFile(line.Positional()[0], "file", content); !read.ok()) {
    return Report(read, kExitFailure);
  }
  std::string signature;
  if (Status signed_ = key.Sign(content, signature); !signed_.ok()) return Report(signed_, kExitFailure);
  std::printf("%s\n", signature.c_str());
  return kExitOk;
}

}  // namespace vorneth::pack
