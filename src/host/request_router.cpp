#include "host/request_router.h"

#include <exception>

#include "host/message_output.h"
#include "json/json_conversions.h"
#include "platform/trace.h"

namespace vorneth {

RequestRouter::RequestRouter(FrameOutput* output) : m_output(output) {}

RequestRouter::~RequestRouter() {
  m_session.reset();
  while (!m_replaced.empty()) m_replaced.pop_back();
}

void RequestRouter::Route(const std::string& body) {
  try {
    RouteParsed(body);
  } catch (const std::exception&) {
    // A request must never end the host; the next one is served.
    TraceFunction trace("main");
    trace.Message("request failed");
  }
}

void RequestRouter::RouteParsed(const std::string& body) {
  TraceFunction trace("main");
  trace.DataText("inp.c_str ()", body);
  trace.Message("request arrived to native host");

  Json::Value request;
  ParseJson(body, request);
  if (!request.isObject() && !request.isNull()) return;
  // The port identifier is stored for every request, before the request is
  // judged: a request ignored for its other members still names the port.
  std::string portId;
  if (!ReadText(Member(request, "portId"), portId)) return;
  m_output->SetLastPortId(portId);
  std::string type, command;
  if (!ReadText(Member(request, "type"), type) || !ReadText(Member(request, "command"), command)) return;
  trace.Text("command.c_str ()", command);
  trace.Text("type.c_str ()", type);
  trace.Text("portId.c_str ()", portId);
  trace.Message("command received");

  const bool hostRequest = type == "Vorneth-I";
  if (hostRequest && command == "Create") {
    std::string url, version;
    if (!ReadText(Member(request, "url"), url) || !ReadText(Member(request, "version"), version)) return;
    trace.Text("url.c_str ()", url);
    trace.Text("version.c_str ()", version);
    trace.Message("Vorneth-I Create");
    auto session = std::make_unique<Vorneth>(url, 0, &Callback, m_output, version);
    if (m_session) {
      // Its workers end once idle; destruction at the end only joins them.
      m_session->Retire();
      m_retiring.push_back(m_session.get());
      m_replaced.push_back(std::move(m_session));
    }
    std::erase_if(m_retiring, [](Vorneth* retired) { return retired->JoinEndedWorkers(); });
    m_session = std::move(session);
    return;
  }
  if (!hostRequest && type != "Vorneth") return;

  std::string callbackId;
  if (!ReadText(Member(request, "callbackId"), callbackId)) return;
  Json::Value params = Member(request, "params");
  trace.Text("callbackId.c_str ()", callbackId);
  if (hostRequest) {
    trace.Message("Vorneth-I, Executing DispatchInternal");
    if (m_session) m_session->VornethDispatchInternal(command, std::move(params), callbackId);
  } else {
    trace.Message("Vorneth, Executing Dispatch");
    if (m_session) {
      m_session->VornethDispatch(command, std::move(params), callbackId);
    } else {
      trace.Message("first check of crash protection against incorrect destruction of the object by the other thread");
    }
  }
}

}  // namespace vorneth
