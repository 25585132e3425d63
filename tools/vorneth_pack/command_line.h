// The command line of one vorneth-pack command: "--name value" options
// (also written "--name=value"), "--name" switches and positional
// arguments, in any order; "--" ends the options.
//
// Each command lists the options it knows; anything else is a usage error,
// and so is an option given twice, an option without its value, or a
// switch given a value. Stateless and free of global state.
#ifndef VORNETH_TOOLS_VORNETH_PACK_COMMAND_LINE_H_
#define VORNETH_TOOLS_VORNETH_PACK_COMMAND_LINE_H_

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vorneth::pack {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
// Bad input or a failed step: a missing folder, an unreadable key, a file
// that cannot be written.
inline constexpr int kExitFailure = 1;
// The command line itself is wrong.
inline constexpr int kExitUsage = 2;
// verify: the package was read, and the host would refuse it.
inline constexpr int kExitRefused = 3;

struct OptionSpec {
  std::string_view m_name;  // without the leading "--"
  bool m_takesValue;
};

class CommandLine {
 public:
  // Fails with the reason for a usage error.
  static Status Parse(const std::vector<std::string>& args, std::span<const OptionSpec> known, CommandLine& parsed);

  bool Has(std::string_view name) const { return m_values.contains(std::string(name)); }
  // The option's value; `fallback` when it was not given.
  std::string Value(std::string_view name, std::string_view fallback = {}) const;
  const std::vector<std::string>& Positional() const { return m_positional; }

 private:
  std::map<std::string, std::string> m_values;
  std::vector<std::string> m_positional;
};

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_COMMAND_LINE_H_
