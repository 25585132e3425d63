// The requests vorneth-cli sends: the check that one is JSON before it goes
// out, and the "Create" that --create puts first.
#ifndef VORNETH_TOOLS_VORNETH_CLI_REQUESTS_H_
#define VORNETH_TOOLS_VORNETH_CLI_REQUESTS_H_

#include <string>

namespace vorneth::cli {

// The port identifier of the "Create" that --create sends.
inline constexpr char kCreatePortId[] = "1";

// Empty when `request` is one JSON text; otherwise why not, in the JSON
// parser's words on one line.
std::string JsonProblem(const std::string& request);

// {"type":"Vorneth-I","command":"Create","url":<url>,"version":"1.0","portId":"1"}
std::string CreateRequest(const std::string& url);

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_REQUESTS_H_
