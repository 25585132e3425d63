// The page command set: what a dispatch worker does with each command a page
// sends.
#include "json/json_conversions.h"
#include "platform/trace.h"
#include "session/vorneth.h"

namespace vorneth {
namespace {

constexpr const char kInstallFinishEvent[] = "AddOnInstallFinishEvent";

// The positional parameters of a page command. A missing element reads as
// the empty text or 0; an element of a type that cannot be converted makes
// the read fail, and the command is answered ["Error"].
class PageParams {
 public:
  explicit PageParams(const Json::Value& params) : params_(params) {}
  bool Text(Json::ArrayIndex index, std::string& out) const { return ReadText(Element(params_, index), out); }
  bool Int(Json::ArrayIndex index, int32_t& out) const { return ReadInt(Element(params_, index), out); }
  const Json::Value& Raw(Json::ArrayIndex index) const { return Element(params_, index); }

 private:
  const Json::Value& params_;
};

}  // namespace

void Vorneth::DispatchWorkerFunc(void* arg, std::string command, Json::Value params, std::string callbackId) {
  auto* self = static_cast<Vorneth*>(arg);
  TraceFunction trace("Vorneth::DispatchWorkerFunc");
  trace.Pointer("vorneth", self);
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);

  Json::Value answer(Json::objectValue);
  Json::Value& response = answer["response"];
  response = Json::Value(Json::arrayValue);
  const PageParams in(params);
  bool send = true;

  if (command == "GetVersion") {
    trace.Text("VORNETH_VERSION", kHostVersionHex);
    trace.Text("_this->m_extVersion.c_str ()", self->m_extVersion);
    trace.Message(
        "GetVersion: return version number of host and extension, first value is host version, second value is "
        "extension version");
    response.append(kHostVersionHex);
    response.append(self->m_extVersion);
  } else if (self->m_blacklisted) {
    trace.Text("command.c_str ()", command);
    trace.Message("m_blacklisted is true");
    response.append("Error");
    response.append(-3);
  } else if (command == "InstallAddOns") {
    std::string basePath;
    if (!in.Text(0, basePath)) {
      response.append("Error");
    } else {
      trace.Text("param1.c_str ()", basePath);
      trace.Message("addon base path to be installed");
      const int32_t result = self->InstallAddOns(basePath, in.Raw(1));
      trace.Number("result", result);
      trace.Message("InstallAddOns result");
      if (result != 200 && result != 0) response.append("Error");
      response.append(result);
    }
  } else if (command == "CreateAddOnInstance") {
    std::string uuid, version;
    if (!in.Text(0, uuid) || !in.Text(1, version)) {
      response.append("Error");
    } else {
      trace.Text("param1.c_str ()", uuid);
      trace.Text("param2.c_str ()", version);
      trace.Message("CreateAddOnInstance: param1: uuid; params2: version");
      const int32_t result = self->CreateAddOnInstance(uuid, version, callbackId);
      trace.Number("result", result);
      trace.Message("CreateAddOnInstance result");
      if (result == 0) {
        trace.Message("Successfully asked addon worker to create instance and send result back. Leaving");
        send = false;
      } else {
        response.append("Error");
        response.append(result);
      }
    }
  } else if (command == "DisposeAddOnInstance") {
    int32_t addonId = 0;
    std::string uuid, version;
    if (!in.Int(0, addonId) || !in.Text(1, uuid) || !in.Text(2, version)) {
      response.append("Error");
    } else {
      trace.Number("param1", addonId);
      trace.Text("param2.c_str ()", uuid);
      trace.Text("param3.c_str ()", version);
      trace.Message("DisposeAddOnInstance: param1: addonId; param2: uuid; params3: version");
      const bool result = self->DisposeAddOnInstance(addonId, uuid, version, callbackId);
      trace.Number("result", result);
      trace.Message("DisposeAddOnInstance result");
      if (result) {
        trace.Message("Successfully asked addon worker to dispose instance and send result back. Leaving");
        send = false;
      } else {
        response.append("Error");
      }
    }
  } else if (command == "InvokeAddOnInstance") {
    int32_t addonId = 0;
    std::string addonCommand, addonParams;
    if (!in.Int(0, addonId) || !in.Text(1, addonCommand) || !in.Text(2, addonParams)) {
      response.append("Error");
    } else {
      trace.Number("param1", addonId);
      trace.Text("param2.c_str ()", addonCommand);
      trace.DataText("param3.c_str ()", addonParams);
      trace.Message("InvokeAddOnInstance: param1: addonId; params2: command; param3: params");
      if (self->InvokeAddOnInstance(addonId, addonCommand, addonParams, callbackId)) {
        trace.Message("Successfully asked addon worker to invoke instance and send result back. Leaving");
        send = false;
      } else {
        trace.Message("InvokeAddOnInstance error - failed!");
        response.append("Error");
      }
    }
  } else if (command == "RegisterEvent" || command == "UnregisterEvent") {
    std::string eventName;
    const bool readable = in.Text(0, eventName);
    trace.Text("param1.c_str ()", eventName);
    trace.Message("RegisterEvent or UnregisterEvent: param1: eventName");
    const bool known = readable && eventName == kInstallFinishEvent;
    trace.Number("result", known ? 1 : 0);
    trace.Message("RegisterEvent or UnregisterEvent result");
    if (known) {
      response.append(true);
    } else {
      response.append("Error");
    }
  } else if (command == "RegisterAddOnEvent" || command == "UnregisterAddOnEvent") {
    const bool registering = command == "RegisterAddOnEvent";
    int32_t addonId = 0;
    std::string eventName;
    if (!in.Int(0, addonId) || !in.Text(1, eventName)) {
      response.append("Error");
    } else {
      trace.Number("param1", addonId);
      trace.Text("param2.c_str ()", eventName);
      trace.Message(registering ? "RegisterAddOnEvent: param1: addonId; params2: eventName"
                                : "UnregisterAddOnEvent: param1: addonId; params2: eventName");
      const bool result = registering ? self->RegisterAddOnEvent(addonId, eventName, callbackId)
                                      : self->UnregisterAddOnEvent(addonId, eventName, callbackId);
      if (!registering) trace.Number("result", result);
      if (result) {
        trace.Message(registering
                          ? "Successfully asked addon worker to register instance event and send result back. Leaving"
                          : "Successfully asked addon worker to unregister instance event and send result back. "
                            "Leaving");
        send = false;
      } else {
        trace.Message(registering ? "RegisterAddOnEvent error - failed" : "UnregisterAddOnEvent error - failed");
        response.append("Error");
      }
    }
  } else {
    trace.Text("command.c_str ()", command);
    trace.Message("Invalid command");
    response.append("Error");
    response.append(-2);
  }

  if (!send) return;
  answer["rtype"] = "Vorneth";
  answer["callbackId"] = callbackId;
  answer["instanceId"] = self->m_sessionId;
  self->VornethCallback(answer);
}

}  // namespace vorneth
