// The host command set: queries and changes of the host's own state, run on
// the main thread with their answer written before the next request is read.
// One table row per command name; handlers that take parameters read them
// first and answer ["Error"] when one has a type that cannot be read as text.
// The store is the session's (m_store); a change that fails was traced where
// it failed and the answer does not tell it, so its Status stops here.
#include <string_view>

#include "json/json_conversions.h"
#include "platform/trace.h"
#include "session/command_results.h"
#include "session/vorneth.h"
#include "store/addon_records.h"
#include "store/domain_permissions.h"

namespace vorneth {

// The handlers, friends of the session: several refresh its blocked flag.
// Each sets the answer's "response" (or leaves it out).
struct HostCommands {
  static void GetHostVersion(Vorneth&, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    answer["response"] = kHostVersionDotted;
  }
  static void ReadAddOnList(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    answer["response"] = store::ReadAddOnList(session.m_store());
  }
  static void ReadPermList(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    answer["response"] = store::ReadPermList(session.m_store());
  }
  static void UninstallAddOn(Vorneth& session, const Json::Value& params, const TraceFunction& trace,
                             Json::Value& answer) {
    std::string uuid, version;
    if (!TextParams(params, trace, answer, uuid, version)) return;
    trace.Text("param1.c_str ()", uuid);
    trace.Text("param2.c_str ()", version);
    trace.Message("UninstallAddOn param1: uuid; params2: version");
    const int32_t result = session.UninstallAddOn(uuid, version);
    trace.Number("result", result);
    trace.Message("UninstallAddOn result");
    answer["response"] = result;
  }
  static void GetActiveAddOnList(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    Json::Value list = session.m_addons.table().ActiveAddOnList();
    if (!list.isNull()) answer["response"] = std::move(list);
  }
  static void GetDomain(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    answer["response"] = session.m_domain;
  }
  static void IsDomainBlocked(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    session.RefreshBlacklisted();
    answer["response"] = session.m_blacklisted ? 1 : 0;
  }
  static void SetDomainDenied(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    (void)store::SetDomainDenied(session.m_store(), session.m_domain);
    session.m_blacklisted = true;
    answer["response"] = session.m_domain;
  }
  static void SetDomainAllowed(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    (void)store::SetDomainAllowed(session.m_store(), session.m_domain);
    session.m_blacklisted = false;
    answer["response"] = session.m_domain;
  }
  static void RemoveFromPermList(Vorneth& session, const Json::Value& params, const TraceFunction& trace,
                                 Json::Value& answer) {
    {
      std::string url, list;
      if (!TextParams(params, trace, answer, url, list)) return;
      (void)store::RemoveFromPermList(session.m_store(), url, list);
    }
    session.RefreshBlacklisted();
    // The echo is read from the parameters again once the copies are gone:
    // a page may send a text as large as the request.
    Json::Value echo(Json::arrayValue);
    echo.append(TextValue(Element(params, 0)));
    echo.append(TextValue(Element(params, 1)));
    answer["response"] = std::move(echo);
  }
  static void IsWhitelistMode(Vorneth& session, const Json::Value&, const TraceFunction&, Json::Value& answer) {
    const bool whitelist = store::IsWhitelistMode(session.m_store());
    session.RefreshBlacklisted();
    answer["response"] = whitelist ? 1 : 0;
  }
  static void SetPermissionMode(Vorneth& session, const Json::Value& params, const TraceFunction& trace,
                                Json::Value& answer) {
    {
      std::string mode;
      if (!ReadText(Element(params, 0), mode)) return BadParams(trace, answer);
      (void)store::SetPermissionMode(session.m_store(), mode);
    }
    session.RefreshBlacklisted();
    answer["response"] = TextValue(Element(params, 0));
  }

 private:
  // A parameter that reads as text (checked before), as the JSON string of
  // that text, copied once.
  static Json::Value TextValue(const Json::Value& param) {
    std::string_view text;
    ReadTextView(param, text);
    return Json::Value(text.data(), text.data() + text.size());
  }
  static void BadParams(const TraceFunction& trace, Json::Value& answer) {
    trace.Message("bad parameter types");
    Json::Value error(Json::arrayValue);
    error.append(kErrorText);
    answer["response"] = std::move(error);
  }
  // param1 and param2 as texts; false (answered) when one cannot be read.
  static bool TextParams(const Json::Value& params, const TraceFunction& trace, Json::Value& answer,
                         std::string& param1, std::string& param2) {
    if (ReadText(Element(params, 0), param1) && ReadText(Element(params, 1), param2)) return true;
    BadParams(trace, answer);
    return false;
  }
};

namespace {

using HostHandler = void (*)(Vorneth& session, const Json::Value& params, const TraceFunction& trace,
                             Json::Value& answer);

struct HostCommand {
  const char* m_name;
  HostHandler m_handler;
};

constexpr HostCommand kHostCommands[] = {
    {"GetHostVersion", &HostCommands::GetHostVersion},
    {"ReadVornethAddOnListDB", &HostCommands::ReadAddOnList},
    {"ReadVornethPermListDB", &HostCommands::ReadPermList},
    {"UninstallAddOn", &HostCommands::UninstallAddOn},
    {"GetActiveAddOnList", &HostCommands::GetActiveAddOnList},
    {"GetDomain", &HostCommands::GetDomain},
    {"IsDomainBlocked", &HostCommands::IsDomainBlocked},
    {"SetDomainDenied", &HostCommands::SetDomainDenied},
    {"SetDomainAllowed", &HostCommands::SetDomainAllowed},
    {"RemoveFromPermList", &HostCommands::RemoveFromPermList},
    {"IsWhitelistMode", &HostCommands::IsWhitelistMode},
    {"SetPermissionMode", &HostCommands::SetPermissionMode},
};

const HostCommand* FindHostCommand(std::string_view name) {
  for (const HostCommand& row : kHostCommands) {
    if (name == row.m_name) return &row;
  }
  return nullptr;
}

}  // namespace

void Vorneth::RefreshBlacklisted() {
  m_blacklisted = store::IsDomainBlocked(m_store(), m_domain);
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the signature every caller of this operation uses.
void Vorneth::VornethDispatchInternal(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("Vorneth::VornethDispatchInternal");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_unregistered) return;
  MutexLock lock(&m_internalDispatchLock);
  if (m_unregistered) return;

  Json::Value answer(Json::objectValue);
  if (const HostCommand* row = FindHostCommand(command)) {
    row->m_handler(*this, params, trace, answer);
    // Not kept while the answer is written: it may be large.
    params = Json::Value();
  } else {
    trace.Text("command.c_str ()", command);
    trace.Message("Invalid command");
    Json::Value error(Json::arrayValue);
    error.append(kErrorText);
    error.append(kResultUnknownCommand);
    answer["response"] = std::move(error);
  }

  answer["rtype"] = "Vorneth-I";
  answer["callbackId"] = callbackId;
  answer["instanceId"] = m_sessionId;
  VornethCallback(std::move(answer));
}

}  // namespace vorneth
