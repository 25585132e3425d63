// Routes each request the host reads to the current session.
//
// "Vorneth-I" with "command" "Create" makes a new session (a session it
// replaces is retired: its running commands finish and are answered, its
// workers then end, and its add-on instances last until the router ends);
// any other "Vorneth-I"
// command runs as a host command at once; "Vorneth" queues a page command.
// Every other request is ignored, as is a request whose "type", "command",
// "portId", "url", "version" or "callbackId" is a number, array or object, or
// whose body is JSON other than an object. The "portId" of every request
// whose "portId" is a text (or missing) becomes the output's port identifier,
// even when the request is then ignored. Without a session, commands are
// dropped (traced).
//
// A retired session is destroyed at a later "Create" once it is finished
// (Vorneth::Finished): its dispatch workers have ended, so no command of the
// page reaches it or runs in it, and it holds no live add-on instance, none
// is being created and no add-on worker runs. Nothing can then call into
// it: a session is handed to add-on code only as the context of onCreate,
// and an add-on may call back only from onCreate until onDispose has
// returned, both on the instance's worker, which has ended (a failed
// onCreate ends the calls with its return); installations run on dispatch
// workers; its secure-data texts and domain are valid only while an
// instance lives. So a page sees no change: instances a retired session
// still holds keep it until the router ends, and the sessions that are gone
// no longer hold memory for as long as the page keeps working.
//
// Memory: a body whose parsed form would take more than kParseAllowance
// plus half the body's size (ParsedFormFits) is a malformed request: it is
// ignored whole, before anything of it is read (its "portId" included), and
// traced. Its values could otherwise cost fifty times its size ([0,0,...]
// makes one value of kParsedValueBytes per two bytes). Requests a page
// sends (a few values and texts of any length) stay far below the bound, so
// the body, its parsed form and what a command copies of it stay within
// about three times the body's size.
//
// Sessions write through Callback with the FrameOutput given to the
// constructor as their context; it must outlive the router.
//
// Not thread-safe: the main thread alone reads and routes requests.
#ifndef VORNETH_HOST_REQUEST_ROUTER_H_
#define VORNETH_HOST_REQUEST_ROUTER_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/message_output.h"
#include "host/request.h"
#include "session/vorneth.h"

namespace vorneth {

class TraceFunction;

// The values of a request may take this much beyond half its size.
inline constexpr size_t kParseAllowance = size_t{4} << 20;  // 4 MiB

// False when the values `body` would be parsed into may take more than
// kParseAllowance + body.size() / 2 bytes.
bool ParsedFormFits(std::string_view body);

class RequestRouter {
 public:
  explicit RequestRouter(FrameOutput* output);
  // Destroys every session, the current one first: running page commands
  // finish and their answers are written.
  ~RequestRouter();
  RequestRouter(const RequestRouter&) = delete;
  RequestRouter& operator=(const RequestRouter&) = delete;

  // Handles one request body. Never throws.
  void Route(const std::string& body);
  // Handles a request its caller has parsed (ParseRequest) from a body
  // that ParsedFormFits, exactly as Route handles that body. For a caller
  // that looks at each request before it is routed (the session fuzzer),
  // so that the body is parsed once. Never throws.
  void Route(Request request);

 private:
  void RouteParsed(const std::string& body);
  void RouteRequest(const TraceFunction& trace, Request request);

  FrameOutput* const m_output;
  std::unique_ptr<Vorneth> m_session;
  // Sessions replaced by a later "Create", retired: they receive no more
  // requests but keep their add-on instances until the end. Each "Create"
  // joins their ended dispatch threads, so finished threads never pile up,
  // and destroys those that are finished.
  std::vector<std::unique_ptr<Vorneth>> m_replaced;
};

}  // namespace vorneth

#endif  // VORNETH_HOST_REQUEST_ROUTER_H_
