// One vorneth-cli run: starts the host as the browser does (one argument,
// the caller's origin, which the host ignores), sends the page's "Create"
// when asked, then each request as one frame, one after the other, printing
// the host's frames as they arrive. After the last request it closes the
// host's input, prints what is still coming until the host exits, and
// returns the host's exit status (or the client's own, options.h).
//
// A request that is not JSON is refused unless --raw: among the arguments
// before the host is started, on standard input when its line comes (what
// came before it has been sent; nothing after it is).
#ifndef VORNETH_TOOLS_VORNETH_CLI_SESSION_H_
#define VORNETH_TOOLS_VORNETH_CLI_SESSION_H_

#include "options.h"

namespace vorneth::cli {

int Run(const Options& options);

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_SESSION_H_
