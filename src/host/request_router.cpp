#include "host/request_router.h"

#include <exception>
#include <utility>

#include "host/message_output.h"
#include "host/request.h"
#include "json/parse_cost.h"
#include "platform/trace.h"

namespace vorneth {

bool ParsedFormFits(std::string_view body) {
  const size_t budget = kParseAllowance + body.size() / 2;
  return JsonValueCountBound(body) <= budget / kParsedValueBytes;
}

namespace {

// Runs `handle`: a request must never end the host; the next one is served.
template <typename Handle>
void Guarded(const Handle& handle) {
  try {
    handle();
  } catch (const std::exception&) {
    TraceFunction trace("main");
    trace.Message("request failed");
  }
}

}  // namespace

RequestRouter::RequestRouter(FrameOutput* output) : m_output(output) {}

RequestRouter::~RequestRouter() {
  m_session.reset();
  while (!m_replaced.empty()) m_replaced.pop_back();
}

void RequestRouter::Route(const std::string& body) {
  Guarded([&] { RouteParsed(body); });
}

void RequestRouter::Route(Request request) {
  Guarded([&] {
    TraceFunction trace("main");
    trace.Message("request arrived to native host");
    RouteRequest(trace, std::move(request));
  });
}

void RequestRouter::RouteParsed(const std::string& body) {
  TraceFunction trace("main");
  trace.DataText("inp.c_str ()", body);
  trace.Message("request arrived to native host");
  if (!ParsedFormFits(body)) {
    trace.Number("inp.length ()", static_cast<int32_t>(body.size()));
    trace.Message("request would take too much memory once parsed: ignored");
    return;
  }

  RouteRequest(trace, ParseRequest(body));
}

void RequestRouter::RouteRequest(const TraceFunction& trace, Request request) {
  if (!request.m_routable) return;
  // The port identifier is stored for every request, before the request is
  // judged: a request ignored for its other members still names the port.
  if (!request.m_portId) return;
  const std::string& portId = *request.m_portId;
  m_output->SetLastPortId(portId);
  if (!request.m_type || !request.m_command) return;
  const std::string& type = *request.m_type;
  const std::string& command = *request.m_command;
  trace.Text("command.c_str ()", command);
  trace.Text("type.c_str ()", type);
  trace.Text("portId.c_str ()", portId);
  trace.Message("command received");

  const bool hostRequest = type == "Vorneth-I";
  if (hostRequest && command == "Create") {
    if (!request.m_url || !request.m_version) return;
    trace.Text("url.c_str ()", *request.m_url);
    trace.Text("version.c_str ()", *request.m_version);
    trace.Message("Vorneth-I Create");
    auto session = std::make_unique<Vorneth>(*request.m_url, 0, &Callback, m_output, *request.m_version);
    if (m_session) {
      // Its workers end once idle; a later "Create" joins them.
      m_session->Retire();
      m_replaced.push_back(std::move(m_session));
    }
    // Sessions still holding add-on instances stay; destroying a finished
    // one waits for nothing.
    std::erase_if(m_replaced, [](const std::unique_ptr<Vorneth>& retired) { return retired->Finished(); });
    m_session = std::move(session);
    return;
  }
  if (!hostRequest && type != "Vorneth") return;

  if (!request.m_callbackId) return;
  trace.Text("callbackId.c_str ()", *request.m_callbackId);
  // The request ends here: its texts and parameters move into the session.
  std::string callbackId = std::move(*request.m_callbackId);
  std::string name = std::move(*request.m_command);
  if (hostRequest) {
    trace.Message("Vorneth-I, Executing DispatchInternal");
    if (m_session)
      m_session->VornethDispatchInternal(std::move(name), std::move(request.m_params), std::move(callbackId));
  } else {
    trace.Message("Vorneth, Executing Dispatch");
    if (m_session) {
      m_session->VornethDispatch(std::move(name), std::move(request.m_params), std::move(callbackId));
    } else {
      trace.Message("first check of crash protection against incorrect destruction of the object by the other thread");
    }
  }
}

}  // namespace vorneth
