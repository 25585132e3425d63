// The commands of vorneth-pack. Each takes its arguments (after the command
// name), does its work, reports failures on standard error and returns the
// exit status. The usage text is main's; the rules of the command line are
// common/command_line.h's.
#ifndef VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_
#define VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "platform/status.h"

namespace vorneth::pack {

// Exit statuses of the tool; a usage error is kExitUsage (2,
// common/command_line.h).
inline constexpr int kExitOk = 0;
// Bad input or a failed step: a missing folder, an unreadable key, a file
// that cannot be written.
inline constexpr int kExitFailure = 1;
// verify: the package was read, and the host would refuse it.
inline constexpr int kExitRefused = 3;

using Arguments = std::vector<std::string>;

int RunKeygen(const Arguments& args);
int RunPack(const Arguments& args);
int RunSign(const Arguments& args);
int RunVerify(const Arguments& args);

// Parses a command's arguments against its options `known` into `line`.
// nullopt when the command goes on; otherwise the exit status of a run that
// ends here (the usage shown for --help, or the usage error reported).
std::optional<int> ParseArguments(const Arguments& args, std::span<const OptionSpec> known, CommandLine& line);

// Prints "vorneth-pack: <why>" on standard error and returns `exitStatus`.
int Report(const Status& failure, int exitStatus);
// Report for a usage error, with a pointer to --help; returns kExitUsage.
int ReportUsage(const Status& failure);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_
