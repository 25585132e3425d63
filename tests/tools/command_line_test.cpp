// The command-line rules that vorneth-cli, vorneth-pack and vorneth-register
// share (tools/common/command_line.h), one row per rule, against a table of
// options that has one option of each kind.
#include "common/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorneth::testing {
namespace {

using Outcome = CommandLine::Outcome;

constexpr OptionSpec kKnown[] = {
    {"key", OptionKind::kValue},
    {"force", OptionKind::kFlag},
    {"launcher", OptionKind::kRepeated},
};

// What the line holds: each known option given ("force", "key=VALUE",
// "launcher=A,B"), then the positional arguments in brackets.
std::string Summary(const CommandLine& line) {
  std::string text;
  for (const OptionSpec& spec : kKnown) {
    if (!line.Has(spec.m_name)) continue;
    text += std::string(spec.m_name);
    if (spec.m_kind == OptionKind::kValue) text += "=" + line.Value(spec.m_name);
    if (spec.m_kind == OptionKind::kRepeated) {
      std::string values;
      for (const std::string& value : line.Values(spec.m_name)) values += (values.empty() ? "" : ",") + value;
      text += "=" + values;
    }
    text += " ";
  }
  text += "[";
  for (const std::string& arg : line.Positional()) text += (text.back() == '[' ? "" : " ") + arg;
  return text + "]";
}

TEST(CommandLineRules, EachRowParsesAsItSays) {
  // A row whose `m_command` is set parses as a tool with commands does when
  // the first argument names none of them (WithoutCommand).
  const struct {
    const char* m_rule;
    std::vector<std::string> m_args;
    Outcome m_outcome;
    std::string m_expected;  // kParsed: Summary; kUsageError: the error; kHelp: ""
    bool m_command = false;
  } rows[] = {
      {"--name value", {"--key", "k"}, Outcome::kParsed, "key=k []"},
      {"--name=value", {"--key=k"}, Outcome::kParsed, "key=k []"},
      {"--name= gives an empty value", {"--key="}, Outcome::kParsed, "key= []"},
      {"the value runs to the end", {"--key=a=b c"}, Outcome::kParsed, "key=a=b c []"},
      {"the next argument is the value, whatever it is", {"--key", "--force"}, Outcome::kParsed, "key=--force []"},
      {"--help as a value is a value", {"--key", "--help"}, Outcome::kParsed, "key=--help []"},
      {"a flag", {"--force"}, Outcome::kParsed, "force []"},
      {"a flag given a value", {"--force=yes"}, Outcome::kUsageError, "--force takes no value"},
      {"an unknown option", {"--colour", "red"}, Outcome::kUsageError, "unknown option --colour"},
      {"an unknown option with a value", {"--colour=red"}, Outcome::kUsageError, "unknown option --colour"},
      {"a missing value", {"x", "--key"}, Outcome::kUsageError, "--key needs a value"},
      {"a single option given twice", {"--key", "a", "--key=b"}, Outcome::kUsageError, "--key given twice"},
      {"a flag given twice", {"--force", "--force"}, Outcome::kUsageError, "--force given twice"},
      {"a repeated option keeps its values", {"--launcher", "a", "--launcher=b"}, Outcome::kParsed, "launcher=a,b []"},
      {"the first error is the one told", {"--colour", "--force=1"}, Outcome::kUsageError, "unknown option --colour"},
      {"options and arguments mix", {"a", "--force", "b"}, Outcome::kParsed, "force [a b]"},
      {"dashes alone are arguments", {"-", "-1", "-x"}, Outcome::kParsed, "[- -1 -x]"},
      {"-- ends the options", {"--force", "--", "--key", "-h"}, Outcome::kParsed, "force [--key -h]"},
      {"--help", {"--help"}, Outcome::kHelp, ""},
      {"-h", {"-h"}, Outcome::kHelp, ""},
      {"--help wins over a usage error", {"--colour", "--help"}, Outcome::kHelp, ""},
      {"--help takes no value", {"--help=all"}, Outcome::kUsageError, "--help takes no value"},
      {"no command", {}, Outcome::kUsageError, "no command (a or b)", true},
      {"an unknown command", {"c", "--force"}, Outcome::kUsageError, "unknown command \"c\" (a or b)", true},
      {"--help without a command", {"c", "-h"}, Outcome::kHelp, "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.m_rule);
    CommandLine line;
    std::string error;
    const Outcome outcome =
        row.m_command ? WithoutCommand(row.m_args, "a or b", error) : line.Parse(row.m_args, kKnown);
    if (!row.m_command) error = line.error();
    EXPECT_EQ(outcome, row.m_outcome);
    const std::string seen = outcome == Outcome::kParsed ? Summary(line) : outcome == Outcome::kHelp ? "" : error;
    EXPECT_EQ(seen, row.m_expected);
  }
}

}  // namespace
}  // namespace vorneth::testing
