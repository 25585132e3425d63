// The command line of vorneth-register, checked and completed: which
// browsers, which scope, which extensions to allow and which host to name.
//
// ParseOptions follows the rules of common/command_line.h. It prints
// nothing and is free of global state apart from the environment lookup it
// is handed (HOME, XDG_CONFIG_HOME), so it reads the same in every test.
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_OPTIONS_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_OPTIONS_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browsers.h"
#include "common/command_line.h"

namespace vorneth::reg {

// Exit statuses of the tool; a usage error is kExitUsage (2,
// common/command_line.h).
inline constexpr int kExitOk = 0;
// A check found a problem, or an action failed.
inline constexpr int kExitFailure = 1;

// The example extension's identifiers, allowed when no --extension-id of
// the family is given.
inline constexpr char kDefaultChromiumId[] = "ejjloefkknaejngfkaglfogdnpnjlgcp";
inline constexpr char kDefaultFirefoxId[] = "vorneth@vorneth.org";

enum class Command { kInstall, kUninstall, kCheck };

struct Options {
  Command m_command = Command::kCheck;
  // --system: the whole system's registrations. Without it install and
  // uninstall act for the current user, and check looks at both scopes.
  bool m_system = false;
  // The chosen browsers in table order, each once.
  std::vector<const Browser*> m_browsers;
  // True when --browser named browsers (not "all" and not left out).
  bool m_browsersNamed = false;
  // Identifiers allowed: 32 letters a-p for the Chromium family, anything
  // else (an "@" form or a "{...}" form) for Firefox.
  std::vector<std::string> m_chromiumIds;
  std::vector<std::string> m_firefoxIds;
  // The host's absolute path (UTF-8).
  std::string m_host;
  // Prefix of the system folders (Linux); empty for none.
  std::string m_root;
  // install: the logging library to copy beside the host; empty for none.
  std::string m_traceLibrary;
  // The user's folders (Linux): $HOME and the configuration folder.
  std::string m_home;
  std::string m_configHome;
};

// The scopes a command acts on: install and uninstall one, check both
// unless --system narrows it.
std::vector<Scope> ScopesOf(const Options& options);

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Parses `args` (after the program's name): the command, then its options.
// `defaultHost` is the host beside the tool ("" when unknown). kParsed with
// `options` filled in; kHelp; or kUsageError with `error` saying why.
CommandLine::Outcome ParseOptions(const std::vector<std::string>& args, const std::string& defaultHost,
                                  const EnvironmentLookup& environment, Options& options, std::string& error);

// True for a Chromium extension identifier: 32 letters a to p.
bool IsChromiumId(const std::string& id);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_OPTIONS_H_
