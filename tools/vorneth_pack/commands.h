// The commands of vorneth-pack. Each takes its arguments (after the command
// name), does its work, reports failures on standard error and returns the
// exit status (command_line.h). The usage texts are main's.
#ifndef VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_
#define VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace vorneth::pack {

using Arguments = std::vector<std::string>;

int RunKeygen(const Arguments& args);
int RunPack(const Arguments& args);
int RunSign(const Arguments& args);
int RunVerify(const Arguments& args);

// Prints "vorneth-pack: <why>" on standard error and returns `exitStatus`.
int Report(const Status& failure, int exitStatus);
// Report for a usage error of `command`, with a pointer to its help.
int ReportUsage(const std::string& command, const Status& failure);

}  // namespace vorneth::pack

#endif  // VORNETH_TOOLS_VORNETH_PACK_COMMANDS_H_
