// The three commands of vorneth-register. Each acts on the browsers and
// scopes of `options`, prints one line per browser and scope on standard
// output (failures of its own on standard error) and returns the exit
// status (options.h).
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_COMMANDS_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_COMMANDS_H_

#include "options.h"

namespace vorneth::reg {

int RunInstall(const Options& options);
int RunUninstall(const Options& options);
int RunCheck(const Options& options);

// "Chrome (user)".
std::string Label(const Browser& browser, Scope scope);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_COMMANDS_H_
