// vorneth-cli's command line: what the person or script asked for.
#ifndef VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_
#define VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vorneth::cli {

// Exit statuses of the client itself; any other status is the host's.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitTimeout = 124;
inline constexpr int kExitCannotStart = 125;
inline constexpr int kExitBadStream = 126;

extern const char kUsage[];

struct Options {
  std::string m_host;
  std::vector<std::string> m_launcher;
  std::string m_origin = "extension://vorneth-cli/";
  std::chrono::milliseconds m_wait{0};
  std::chrono::milliseconds m_settle{300};
  std::chrono::milliseconds m_timeout{30000};
  // The page whose "Create" goes first; empty for none.
  std::string m_createUrl;
  // Requests go as they are, JSON or not.
  bool m_raw = false;
  // Frames are printed indented, for reading by eye.
  bool m_pretty = false;
  std::vector<std::string> m_requests;
  bool m_fromStdin = true;
};

// Parses the command line (`args` without the program's name); on error
// prints why on standard error and returns nullopt. Sets `help` when --help
// was given.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, bool& help);

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_
