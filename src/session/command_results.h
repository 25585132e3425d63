// Result codes of the two command sets that are the session's own (the
// add-on operations' codes are in addons/addon_results.h). They become
// numbers only in the JSON answer: ["Error", code].
#ifndef VORNETH_SESSION_COMMAND_RESULTS_H_
#define VORNETH_SESSION_COMMAND_RESULTS_H_

#include <cstdint>

#include "addons/addon_results.h"

namespace vorneth {

// The command name is not one of the command set's.
inline constexpr int32_t kResultUnknownCommand = -2;
// The page's origin is blocked by the domain permissions.
inline constexpr int32_t kResultOriginBlocked = -3;
// The answer or event was larger than the browser takes from a host
// (kMaxBrowserMessage of host/message_output.h); it was not sent.
inline constexpr int32_t kResultMessageTooLarge = -9;

}  // namespace vorneth

#endif  // VORNETH_SESSION_COMMAND_RESULTS_H_
