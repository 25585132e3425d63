// The host command set: queries and changes of the host's own state, run on
// the main thread with their answer written before the next request is read.
#include <set>

#include "json/json_conversions.h"
#include "platform/trace.h"
#include "session/vorneth.h"
#include "store/vorneth_db.h"

namespace vorneth {
namespace {

// Reads params[index] as text; false when its type cannot be read as text.
bool TextParam(const Json::Value& params, Json::ArrayIndex index, std::string& out) {
  return ReadText(Element(params, index), out);
}

Json::Value ErrorAnswer() {
  Json::Value error(Json::arrayValue);
  error.append("Error");
  return error;
}

Json::Value ErrorAnswer(int32_t code) {
  Json::Value error = ErrorAnswer();
  error.append(code);
  return error;
}

}  // namespace

Json::Value Vorneth::ActiveAddOnList() {
  Json::Value list;
  std::set<std::string> seen;
  std::lock_guard<std::mutex> lock(m_addonLock);
  for (const Json::Value& info : m_addonInfos) {
    if (info.isNull()) continue;
    std::string uuid;
    ReadText(Member(info, "uuid"), uuid);
    if (seen.insert(uuid).second) list.append(info);
  }
  return list;
}

void Vorneth::VornethDispatchInternal(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("Vorneth::VornethDispatchInternal");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_unregistered) return;
  std::lock_guard<std::mutex> lock(m_internalDispatchLock);
  if (m_unregistered) return;

  Json::Value answer(Json::objectValue);
  // A parameter that cannot be read as text answers ["Error"] instead of
  // running the command on a value the page did not send.
  std::string param1, param2;
  const bool paramsReadable = TextParam(params, 0, param1) && TextParam(params, 1, param2);

  if (command == "GetHostVersion") {
    answer["response"] = kHostVersionDotted;
  } else if (command == "ReadVornethAddOnListDB") {
    answer["response"] = VornethDB::ReadAddOnList();
  } else if (command == "ReadVornethPermListDB") {
    answer["response"] = VornethDB::ReadPermList();
  } else if (command == "UninstallAddOn") {
    if (!paramsReadable) {
      answer["response"] = ErrorAnswer();
    } else {
      trace.Text("param1.c_str ()", param1);
      trace.Text("param2.c_str ()", param2);
      trace.Message("UninstallAddOn param1: uuid; params2: version");
      const int32_t result = UninstallAddOn(param1, param2);
      trace.Number("result", result);
      trace.Message("UninstallAddOn result");
      answer["response"] = result;
    }
  } else if (command == "GetActiveAddOnList") {
    Json::Value list = ActiveAddOnList();
    if (!list.isNull()) answer["response"] = std::move(list);
  } else if (command == "GetDomain") {
    answer["response"] = m_domain;
  } else if (command == "IsDomainBlocked") {
    m_blacklisted = VornethDB::IsDomainBlocked(m_domain);
    answer["response"] = m_blacklisted ? 1 : 0;
  } else if (command == "SetDomainDenied") {
    VornethDB::SetDomainDenied(m_domain);
    m_blacklisted = true;
    answer["response"] = m_domain;
  } else if (command == "SetDomainAllowed") {
    VornethDB::SetDomainAllowed(m_domain);
    m_blacklisted = false;
    answer["response"] = m_domain;
  } else if (command == "RemoveFromPermList") {
    if (!paramsReadable) {
      answer["response"] = ErrorAnswer();
    } else {
      VornethDB::RemoveFromPermList(param1, param2);
      m_blacklisted = VornethDB::IsDomainBlocked(m_domain);
      Json::Value echo(Json::arrayValue);
      echo.append(param1);
      echo.append(param2);
      answer["response"] = std::move(echo);
    }
  } else if (command == "IsWhitelistMode") {
    const bool whitelist = VornethDB::IsWhitelistMode();
    m_blacklisted = VornethDB::IsDomainBlocked(m_domain);
    answer["response"] = whitelist ? 1 : 0;
  } else if (command == "SetPermissionMode") {
    if (!TextParam(params, 0, param1)) {
      answer["response"] = ErrorAnswer();
    } else {
      VornethDB::SetPermissionMode(param1);
      m_blacklisted = VornethDB::IsDomainBlocked(m_domain);
      answer["response"] = param1;
    }
  } else {
    trace.Text("command.c_str ()", command);
    trace.Message("Invalid command");
    answer["response"] = ErrorAnswer(-2);
  }

  answer["rtype"] = "Vorneth-I";
  answer["callbackId"] = callbackId;
  answer["instanceId"] = m_sessionId;
  VornethCallback(answer);
}

}  // namespace vorneth
