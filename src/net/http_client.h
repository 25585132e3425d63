// The download client's logic: one HTTP GET, from the proxy decision to the
// body in memory, over the system services it is given.
//
// RunHttpRequest is RequestMaker::MakeHttpRequest (request_maker.h) with the
// services as a parameter: the host passes SystemHttpServices() (http_module.h), tests pass
// a scripted replacement. In order, it
//   - chooses the proxy: the user's settings, automatic discovery when they
//     ask for it (or cannot be read), else the settings' fixed proxy;
//   - opens session, connection and request (TLS when the server text
//     begins with "https"), TLS 1.0 to 1.3, or 1.0 to 1.2 where the system
//     refuses 1.3, and asks for application/octet-stream on ".pkg" paths;
//   - sends at most five times while a proxy answers 407: the user's logon
//     (NTLM), then a stored credential (NTLM, then Basic), then credentials
//     from the dialog (NTLM, then Basic); without a stored credential the
//     dialog comes second. The status is set to 0 before each retry;
//   - on 200 reads the body in the chunks the transport offers.
//
// Results and status: kHttpExchangeDone when the exchange ran to its end,
// whatever the status; otherwise the error code of the failing step. On a
// 200 response `body` and `length` are first emptied and then receive the
// body; otherwise they are not touched. `status` receives the status of
// every response and keeps the caller's value when none arrives.
// Two rules keep a hostile server in check:
//   - a body announced or found larger than kMaxPackageBytes is not read
//     further: the exchange ends with kHttpExchangeDone, status 413 and no
//     body;
//   - a body that ends before its announced length, or a connection lost in
//     the middle of it, is a failure (the transport's error code, or
//     kHttpErrorConnectionError), never a short package.
//
// User names and passwords live in SecretText and are wiped on every path.
// Calls share no state: any number may run at once on different threads,
// as far as the services allow (SystemHttpServices() does).
#ifndef VORNETH_NET_HTTP_CLIENT_H_
#define VORNETH_NET_HTTP_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http_services.h"

namespace vorneth {

// The agent name every request carries.
inline constexpr char kHttpUserAgent[] = "Vorneth-UserAgent";
// The proxy's answer that asks for credentials, the number of sends after
// which it is taken as the final answer, and the status that replaces a
// body too large to keep.
inline constexpr int32_t kHttpStatusOk = 200;
inline constexpr int32_t kHttpStatusProxyAuthRequired = 407;
inline constexpr int32_t kHttpStatusTooLarge = 413;
inline constexpr int kMaxProxyAuthRetries = 4;

int32_t RunHttpRequest(HttpServices& services, const std::string& server, const std::string& path, std::string& body,
                       size_t& length, int32_t& status);

}  // namespace vorneth

#endif  // VORNETH_NET_HTTP_CLIENT_H_
