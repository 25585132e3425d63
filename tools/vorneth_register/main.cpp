// vorneth-register: registers vorneth-host with the browsers, removes the
// registration, and checks it.
//
// The first argument names the command (commands.h); options.h parses the
// command line, by the rules of common/command_line.h, and documents the
// exit statuses.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "locations.h"
#include "options.h"
#include "platform/dynamic_library.h"
#include "platform/program_arguments.h"

namespace vorneth::reg {
namespace {

constexpr char kUsage[] =
    "Usage: vorneth-register install|uninstall|check [--system]\n"
    "         [--browser chrome|chromium|edge|brave|vivaldi|firefox|all]...\n"
    "         [--extension-id ID]... [--host PATH] [--root DIR] [--trace-library PATH]\n"
    "Registers vorneth-host as the native-messaging host org.vorneth.host with\n"
    "the browsers, removes that registration, or checks it.\n"
    "\n"
    "  install    writes the host's manifest where each browser looks (on\n"
    "             Windows beside the host, named by the browser's registry key)\n"
    "  uninstall  removes those manifests (or keys) and the logging library\n"
    "             beside the host, nothing else\n"
    "  check      explains, per browser and scope, what keeps the browser from\n"
    "             using the host, then starts the host as a browser does and\n"
    "             asks its version; without --system both scopes are checked\n"
    "\n"
    "Options:\n"
    "  --system             the whole system's registration (default: the user's)\n"
    "  --browser NAME       a browser to act on; may be repeated (default: all)\n"
    "  --extension-id ID    an extension to allow; may be repeated. 32 letters a-p\n"
    "                       for Chrome and its kin, name@domain or {uuid} for\n"
    "                       Firefox (defaults: ejjloefkknaejngfkaglfogdnpnjlgcp,\n"
    "                       vorneth@vorneth.org, each while no ID of its kind is given)\n"
    "  --host PATH          the host (default: vorneth-host beside this program,\n"
    "                       else ../lib/vorneth/vorneth-host from its folder)\n"
    "  --root DIR           put the system folders under DIR (Linux)\n"
    "  --trace-library PATH install: copy the logging library beside the host,\n"
    "                       where the host finds it and starts to trace\n"
    "  -h, --help           show this text and exit\n"
    "  --                   end of options\n"
    "Options that take a value may also be written --option=VALUE.\n"
    "\n"
    "The user's folders follow $HOME and $XDG_CONFIG_HOME.\n"
    "Exit status: 0 on success; 1 when an action failed or check found a\n"
    "problem (check: 0 needs at least one sound registration, no broken one,\n"
    "and one for every browser named); 2 for a usage error.\n";

// The host beside this program; failing that, where an installed package
// puts it (<prefix>/bin/vorneth-register, <prefix>/lib/vorneth/vorneth-host)
// when it is there.
std::string DefaultHost() {
  const std::string folder = ExecutableDirectory();
  if (folder.empty()) return {};
  std::string beside = Beside(folder + "/x", HostFileName());
  std::string installed = Beside(folder + "/../lib/vorneth/x", HostFileName());
  std::string resolved;
  if (!CheckHostFile(beside, beside, resolved)) return beside;
  if (!CheckHostFile(installed, installed, resolved)) return installed;
  return beside;
}

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

constexpr ToolText kTool = {"vorneth-register", kUsage};

}  // namespace

int Main(const std::vector<std::string>& args) {
  Options options;
  std::string error;
  const CommandLine::Outcome outcome = ParseOptions(args, DefaultHost(), Environment, options, error);
  if (const std::optional<int> status = ExitBeforeRun(kTool, outcome, error)) return *status;
  switch (options.m_command) {
    case Command::kInstall:
      return RunInstall(options);
    case Command::kUninstall:
      return RunUninstall(options);
    case Command::kCheck:
      break;
  }
  return RunCheck(options);
}

}  // namespace vorneth::reg

int main(int argc, char** argv) {
  std::vector<std::string> args = vorneth::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  return vorneth::reg::Main(args);
}
