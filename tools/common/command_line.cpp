#include "common/command_line.h"

#include <algorithm>
#include <cstdio>

namespace vorneth {
namespace {

// "--name", "--name=VALUE", "--" and "-h"; any other argument is positional.
bool IsOption(const std::string& arg) {
  return arg == "-h" || arg.starts_with("--");
}

const OptionSpec* FindSpec(std::span<const OptionSpec> known, std::string_view name) {
  const auto found =
      std::find_if(known.begin(), known.end(), [&](const OptionSpec& spec) { return spec.m_name == name; });
  return found == known.end() ? nullptr : &*found;
}

void Print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

CommandLine::Outcome CommandLine::Parse(const std::vector<std::string>& args, std::span<const OptionSpec> known) {
  *this = CommandLine();
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (optionsDone || !IsOption(args[i])) {
      m_positional.push_back(args[i]);
    } else if (args[i] == "--") {
      optionsDone = true;
    } else if (!TakeOption(args, i, known)) {
      break;
    }
  }
  if (m_help) return Outcome::kHelp;
  return m_error.empty() ? Outcome::kParsed : Outcome::kUsageError;
}

bool CommandLine::TakeOption(const std::vector<std::string>& args, size_t& index, std::span<const OptionSpec> known) {
  const std::string& arg = args[index];
  const size_t equals = arg.find('=');
  const bool inlineValue = equals != std::string::npos;
  const std::string name = arg == "-h" ? "help" : arg.substr(2, inlineValue ? equals - 2 : std::string::npos);
  const std::string shown = "--" + name;
  const OptionSpec help = {"help", OptionKind::kFlag};
  const OptionSpec* spec = name == "help" ? &help : FindSpec(known, name);
  if (spec == nullptr) {
    NoteError("unknown option " + shown);
    return true;
  }
  std::string value;
  if (inlineValue) {
    if (spec->m_kind == OptionKind::kFlag) {
      NoteError(shown + " takes no value");
      return true;
    }
    value = arg.substr(equals + 1);
  } else if (spec->m_kind != OptionKind::kFlag) {
    if (index + 1 == args.size()) {
      NoteError(shown + " needs a value");
      return false;
    }
    value = args[++index];
  }
  if (spec == &help) {
    m_help = true;
    return true;
  }
  if (spec->m_kind != OptionKind::kRepeated && Has(name)) {
    NoteError(shown + " given twice");
    return true;
  }
  m_given.emplace_back(name, std::move(value));
  return true;
}

void CommandLine::NoteError(std::string why) {
  if (m_error.empty()) m_error = std::move(why);
}

bool CommandLine::Has(std::string_view name) const {
  return std::any_of(m_given.begin(), m_given.end(), [&](const auto& given) { return given.first == name; });
}

std::string CommandLine::Value(std::string_view name, std::string_view fallback) const {
  const auto found =
      std::find_if(m_given.rbegin(), m_given.rend(), [&](const auto& given) { return given.first == name; });
  return found == m_given.rend() ? std::string(fallback) : found->second;
}

std::vector<std::string> CommandLine::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [given, value] : m_given) {
    if (given == name) values.push_back(value);
  }
  return values;
}

CommandLine::Outcome WithoutCommand(const std::vector<std::string>& args, std::string_view names, std::string& error) {
  CommandLine line;
  if (line.Parse(args, {}) == CommandLine::Outcome::kHelp) return CommandLine::Outcome::kHelp;
  const std::string listed = " (" + std::string(names) + ")";
  error = args.empty() ? "no command" + listed : "unknown command \"" + args.front() + "\"" + listed;
  return CommandLine::Outcome::kUsageError;
}

int ShowUsage(const ToolText& tool) {
  Print(stdout, tool.m_usage);
  return 0;
}

int ReportUsageError(const ToolText& tool, std::string_view why) {
  const std::string name(tool.m_name);
  Print(stderr, name + ": " + std::string(why) + "\nTry '" + name + " --help'.\n");
  return kExitUsage;
}

std::optional<int> ExitBeforeRun(const ToolText& tool, CommandLine::Outcome outcome, std::string_view error) {
  switch (outcome) {
    case CommandLine::Outcome::kHelp:
      return ShowUsage(tool);
    case CommandLine::Outcome::kUsageError:
      return ReportUsageError(tool, error);
    case CommandLine::Outcome::kParsed:
      break;
  }
  return std::nullopt;
}

}  // namespace vorneth
