#include "command_line.h"

#include <algorithm>

namespace vorneth::pack {
namespace {

const OptionSpec* FindSpec(std::span<const OptionSpec> known, std::string_view name) {
  const auto found =
      std::find_if(known.begin(), known.end(), [&](const OptionSpec& spec) { return spec.m_name == name; });
  return found == known.end() ? nullptr : &*found;
}

}  // namespace

Status CommandLine::Parse(const std::vector<std::string>& args, std::span<const OptionSpec> known,
                          CommandLine& parsed) {
  parsed = CommandLine();
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsDone || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed.m_positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionSpec* spec = FindSpec(known, name);
    if (spec == nullptr) return Status::Failed("unknown option --" + name);
    if (parsed.Has(name)) return Status::Failed("option --" + name + " given twice");
    std::string value;
    if (equals != std::string::npos) {
      if (!spec->m_takesValue) return Status::Failed("option --" + name + " takes no value");
      value = arg.substr(equals + 1);
    } else if (spec->m_takesValue) {
      if (i + 1 == args.size()) return Status::Failed("option --" + name + " needs a value");
      value = args[++i];
    }
    parsed.m_values.emplace(name, std::move(value));
  }
  return Status::Ok();
}

std::string CommandLine::Value(std::string_view name, std::string_view fallback) const {
  const auto found = m_values.find(std::string(name));
  return found == m_values.end() ? std::string(fallback) : found->second;
}

}  // namespace vorneth::pack
