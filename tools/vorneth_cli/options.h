// vorneth-cli's command line: what the person or script asked for.
#ifndef VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_
#define VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"

namespace vorneth::cli {

// Exit statuses of the client itself; any other status is the host's.
// A usage error, or a request that is not JSON, is kExitUsage (2,
// common/command_line.h).
inline constexpr int kExitTimeout = 124;
inline constexpr int kExitCannotStart = 125;
inline constexpr int kExitBadStream = 126;

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

// Parses the command line (`args` without the program's name) into
// `options`. Returns nullopt when the client goes on; otherwise the exit
// status of a run that ends here, having shown the usage (--help, 0) or
// said what is wrong on standard error (kExitUsage).
std::optional<int> ParseOptions(const std::vector<std::string>& args, Options& options);

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_OPTIONS_H_
