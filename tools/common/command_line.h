// The command line of the tools (vorneth-cli, vorneth-pack,
// vorneth-register): one set of rules for the three. Each tool lists the
// options it knows (OptionSpec) and reads what was given from a parsed
// CommandLine; the rules are this file's alone.
//
//   --name VALUE, --name=VALUE   an option that takes a value; the value is
//                                the next argument, whatever it looks like
//   --name                       a flag; "--name=VALUE" is a usage error
//   --help, -h                   show the usage on standard output and exit
//                                with status 0, wherever it stands among the
//                                options (not as an option's value, not
//                                after "--"), even beside a usage error
//   --                           ends the options: what follows is
//                                positional
//   anything else                positional ("-", "-1" and "-x" included)
//
// An unknown option, an option without its value, a flag given a value and
// an option given twice that is not kRepeated are usage errors: one line
// "<tool>: <why>" on standard error naming the option, then a pointer to
// --help, and exit status kExitUsage.
#ifndef VORNETH_COMMON_COMMAND_LINE_H_
#define VORNETH_COMMON_COMMAND_LINE_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorneth {

// The exit status of every tool for a usage error.
inline constexpr int kExitUsage = 2;

enum class OptionKind {
  kFlag,      // --name, at most once
  kValue,     // --name VALUE or --name=VALUE, at most once
  kRepeated,  // the same, any number of times; every value is kept
};

struct OptionSpec {
  std::string_view m_name;  // without the leading "--"
  OptionKind m_kind;
};

// One parsed command line. Stateless apart from itself; prints nothing.
class CommandLine {
 public:
  enum class Outcome {
    kParsed,      // the tool goes on with what was given
    kHelp,        // --help or -h was given
    kUsageError,  // error() says why
  };

  // Parses `args` (without the program's name) against the options `known`
  // (which do not list "help"). Replaces what an earlier call parsed.
  Outcome Parse(const std::vector<std::string>& args, std::span<const OptionSpec> known);

  bool Has(std::string_view name) const;
  // The value of a kValue option; `fallback` when it was not given.
  std::string Value(std::string_view name, std::string_view fallback = {}) const;
  // The values of a kRepeated option in the order given.
  std::vector<std::string> Values(std::string_view name) const;
  const std::vector<std::string>& Positional() const { return m_positional; }
  // The first usage error, naming the option ("--key needs a value");
  // empty when there was none.
  const std::string& error() const { return m_error; }

 private:
  // Takes the option `arg` at args[index], and its value from the next
  // argument when it takes one (moving `index` on). Records a usage error;
  // false when the parse cannot go on.
  bool TakeOption(const std::vector<std::string>& args, size_t& index, std::span<const OptionSpec> known);
  void NoteError(std::string why);

  // Each option given, with its value ("" for a flag), in order.
  std::vector<std::pair<std::string, std::string>> m_given;
  std::vector<std::string> m_positional;
  bool m_help = false;
  std::string m_error;
};

// For the tools whose first argument names a command (vorneth-pack,
// vorneth-register), when it names none of theirs: kHelp when --help or -h
// stands among `args` ("vorneth-pack frobnicate --help"), otherwise
// kUsageError with `error` saying that the command is missing or unknown,
// followed by `names` ("install, uninstall or check").
CommandLine::Outcome WithoutCommand(const std::vector<std::string>& args, std::string_view names, std::string& error);

// A tool as its messages name it ("vorneth-pack"), and its --help text.
struct ToolText {
  std::string_view m_name;
  std::string_view m_usage;
};

// Shows the usage on standard output; returns 0, the status of --help.
int ShowUsage(const ToolText& tool);

// "<tool>: <why>" and "Try '<tool> --help'." on standard error; returns
// kExitUsage.
int ReportUsageError(const ToolText& tool, std::string_view why);

// What ends a run before the tool's work: kHelp shows the usage, kUsageError
// reports `error` (both return the exit status); nullopt for kParsed.
std::optional<int> ExitBeforeRun(const ToolText& tool, CommandLine::Outcome outcome, std::string_view error);

}  // namespace vorneth

#endif  // VORNETH_COMMON_COMMAND_LINE_H_
