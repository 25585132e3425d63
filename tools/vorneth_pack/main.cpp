// vorneth-pack: keys, packages and signatures for add-on authors.
//
// The first argument names the command; each command parses the rest
// itself (commands.h), by the rules of common/command_line.h. Exit
// statuses are in commands.h.
#include <cstdio>
#include <string>
#include <string_view>

#include "commands.h"
#include "platform/program_arguments.h"

namespace vorneth::pack {
namespace {

constexpr char kUsage[] =
    "Usage: vorneth-pack COMMAND [ARGUMENT]...\n"
    "Makes signing keys and signed add-on packages for vorneth-host.\n"
    "\n"
    "  vorneth-pack keygen PRIVATE.pem PUBLIC.pem\n"
    "      A new RSA-2048 key pair (exponent 65537). PRIVATE.pem is created\n"
    "      readable by its owner only; PUBLIC.pem is the form the build's\n"
    "      VORNETH_PUBLIC_KEY takes. Existing files are never overwritten.\n"
    "\n"
    "  vorneth-pack pack --key PRIVATE.pem --uuid UUID --version VERSION\n"
    "                    [--name NAME] [--description TEXT] [--icon FILE.png]\n"
    "                    [--manifest-version 1|2] [--force]\n"
    "                    [--allow-unsafe-identity] ADDON_DIR OUT.pkg\n"
    "  vorneth-pack pack ... --inner-archive FILE OUT.pkg\n"
    "      Packs every regular file and folder of ADDON_DIR (symbolic links\n"
    "      and special files are refused) with a signed checksum list\n"
    "      \"signature.json\" into the inner archive \"addon.zip\", and that\n"
    "      with \"manifest.json\" into OUT.pkg. Manifest version 2 (the\n"
    "      default) is signed and carries the icon; version 1 is not signed\n"
    "      and carries the icon as \"icon.png\". --inner-archive takes FILE\n"
    "      as \"addon.zip\" as it is instead of packing a folder. The same\n"
    "      input gives the same bytes. OUT.pkg must not exist unless --force\n"
    "      is given. UUID and VERSION must be usable as folder names unless\n"
    "      --allow-unsafe-identity is given (for testing hosts).\n"
    "\n"
    "  vorneth-pack sign --key PRIVATE.pem FILE\n"
    "      Prints the signature of FILE's bytes as 512 hex digits.\n"
    "\n"
    "  vorneth-pack verify [--uuid UUID] [--version VERSION] PACKAGE\n"
    "      Checks PACKAGE as this build's host would, with its own code and\n"
    "      its built-in public key: the manifest (for UUID and VERSION, by\n"
    "      default the ones it names itself), the inner archive's signature,\n"
    "      the unpacking, and the unpacked files against \"signature.json\".\n"
    "      Prints each check that passed and names the one that failed.\n"
    "\n"
    "Options may also be written --option=VALUE; \"--\" ends the options.\n"
    "--help (or -h), with or without a COMMAND, shows this text.\n"
    "Signatures are RSASSA-PKCS1-v1_5 with SHA-1.\n"
    "\n"
    "Exit status: 0 on success, 1 when an input is bad or a step fails,\n"
    "2 for a usage error, 3 when verify finds a check the package fails.\n";

constexpr ToolText kTool = {"vorneth-pack", kUsage};

struct Command {
  std::string_view m_name;
  int (*m_run)(const Arguments& args);
};

constexpr Command kCommands[] = {
    {"keygen", RunKeygen},
    {"pack", RunPack},
    {"sign", RunSign},
    {"verify", RunVerify},
};

}  // namespace

std::optional<int> ParseArguments(const Arguments& args, std::span<const OptionSpec> known, CommandLine& line) {
  const CommandLine::Outcome outcome = line.Parse(args, known);
  return ExitBeforeRun(kTool, outcome, line.error());
}

int Report(const Status& failure, int exitStatus) {
  std::fprintf(stderr, "vorneth-pack: %s\n", failure.why().c_str());
  return exitStatus;
}

int ReportUsage(const Status& failure) {
  return ReportUsageError(kTool, failure.why());
}

int Main(Arguments args) {
  for (const Command& command : kCommands) {
    if (args.empty() || command.m_name != args.front()) continue;
    args.erase(args.begin());
    return command.m_run(args);
  }
  std::string error;
  const CommandLine::Outcome outcome = WithoutCommand(args, "keygen, pack, sign or verify", error);
  return ExitBeforeRun(kTool, outcome, error).value_or(kExitUsage);
}

}  // namespace vorneth::pack

int main(int argc, char** argv) {
  std::vector<std::string> args = vorneth::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  return vorneth::pack::Main(std::move(args));
}
