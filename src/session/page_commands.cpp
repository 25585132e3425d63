// The page command set: what a dispatch worker does with each command a page
// sends. One table row per command name; each handler reads its parameters
// first and answers ["Error"] when one of them has a type that cannot be
// read, before it calls anything.
#include <iterator>
#include <string_view>

#include "addons/addon_installer.h"
#include "addons/addon_results.h"
#include "json/json_conversions.h"
#include "json/message_text.h"
#include "platform/postponed_work.h"
#include "platform/trace.h"
#include "session/command_results.h"
#include "session/vorneth.h"

namespace vorneth {
namespace {

// The positional parameters of a page command. A missing element reads as
// the empty text or 0; an element of a type that cannot be converted makes
// the read fail.
class PageParams {
 public:
  explicit PageParams(const Json::Value& params) : m_params(params) {}
  bool Text(Json::ArrayIndex index, std::string& out) const { return ReadText(Element(m_params, index), out); }
  // Without a copy: for a text that may be as large as the request.
  bool TextView(Json::ArrayIndex index, std::string_view& out) const {
    return ReadTextView(Element(m_params, index), out);
  }
  bool Int(Json::ArrayIndex index, int32_t& out) const { return ReadInt(Element(m_params, index), out); }
  const Json::Value& Raw(Json::ArrayIndex index) const { return Element(m_params, index); }

 private:
  const Json::Value& m_params;
};

// One running page command: what its handler reads and the answer it fills.
struct PageCall {
  Vorneth& m_session;
  const PageParams m_in;
  const std::string& m_callbackId;
  const TraceFunction& m_trace;
  ArrayWriter& m_response;  // the answer's "response" array

  void Error() { m_response.Text(kErrorText); }
  void Error(int32_t code) {
    m_response.Text(kErrorText);
    m_response.Number(code);
  }
  // The answer to parameters of the wrong type.
  bool BadParams() {
    m_trace.Message("bad parameter types");
    Error();
    return true;
  }
};

// A handler fills the response and returns whether the answer is sent here;
// false when an add-on worker has taken the command and answers later.
using PageHandler = bool (*)(PageCall& call);

// How long a command may take. A prompt one neither waits nor touches disk,
// network or an add-on: answers a worker has left for later may wait behind
// it (platform/postponed_work.h). Before any other command they are written.
enum class Pace { kPrompt, kMayWait };

struct PageCommand {
  const char* m_name;
  PageHandler m_handler;
  Pace m_pace;
};

bool GetVersion(PageCall& call) {
  call.m_trace.Text("VORNETH_VERSION", kHostVersionHex);
  call.m_trace.Text("_this->m_extVersion.c_str ()", call.m_session.extVersion());
  call.m_trace.Message(
      "GetVersion: return version number of host and extension, first value is host version, second value is "
      "extension version");
  call.m_response.Text(kHostVersionHex);
  call.m_response.Text(call.m_session.extVersion());
  return true;
}

bool InstallAddOns(PageCall& call) {
  std::string basePath;
  if (!call.m_in.Text(0, basePath)) return call.BadParams();
  call.m_trace.Text("param1.c_str ()", basePath);
  call.m_trace.Message("addon base path to be installed");
  const int32_t result = call.m_session.InstallAddOns(basePath, call.m_in.Raw(1));
  call.m_trace.Number("result", result);
  call.m_trace.Message("InstallAddOns result");
  if (!InstallSucceeded(result)) call.Error();
  call.m_response.Number(result);
  return true;
}

bool CreateAddOnInstance(PageCall& call) {
  std::string uuid, version;
  if (!call.m_in.Text(0, uuid) || !call.m_in.Text(1, version)) return call.BadParams();
  call.m_trace.Text("param1.c_str ()", uuid);
  call.m_trace.Text("param2.c_str ()", version);
  call.m_trace.Message("CreateAddOnInstance: param1: uuid; params2: version");
  const int32_t result = call.m_session.CreateAddOnInstance(uuid, version, call.m_callbackId);
  call.m_trace.Number("result", result);
  call.m_trace.Message("CreateAddOnInstance result");
  if (result != kResultNothingMore) {
    call.Error(result);
    return true;
  }
  call.m_trace.Message("Successfully asked addon worker to create instance and send result back. Leaving");
  return false;
}

bool DisposeAddOnInstance(PageCall& call) {
  int32_t addonId = 0;
  std::string uuid, version;
  if (!call.m_in.Int(0, addonId) || !call.m_in.Text(1, uuid) || !call.m_in.Text(2, version)) {
    return call.BadParams();
  }
  call.m_trace.Number("param1", addonId);
  call.m_trace.Text("param2.c_str ()", uuid);
  call.m_trace.Text("param3.c_str ()", version);
  call.m_trace.Message("DisposeAddOnInstance: param1: addonId; param2: uuid; params3: version");
  const bool result = call.m_session.DisposeAddOnInstance(addonId, uuid, version, call.m_callbackId);
  call.m_trace.Number("result", result);
  call.m_trace.Message("DisposeAddOnInstance result");
  if (!result) {
    call.Error();
    return true;
  }
  call.m_trace.Message("Successfully asked addon worker to dispose instance and send result back. Leaving");
  return false;
}

bool InvokeAddOnInstance(PageCall& call) {
  int32_t addonId = 0;
  std::string command;
  std::string_view params;
  if (!call.m_in.Int(0, addonId) || !call.m_in.Text(1, command) || !call.m_in.TextView(2, params)) {
    return call.BadParams();
  }
  call.m_trace.Number("param1", addonId);
  call.m_trace.Text("param2.c_str ()", command);
  call.m_trace.DataText("param3.c_str ()", params);
  call.m_trace.Message("InvokeAddOnInstance: param1: addonId; params2: command; param3: params");
  if (!call.m_session.InvokeAddOnInstance(addonId, command, params, call.m_callbackId)) {
    call.m_trace.Message("InvokeAddOnInstance error - failed!");
    call.Error();
    return true;
  }
  call.m_trace.Message("Successfully asked addon worker to invoke instance and send result back. Leaving");
  return false;
}

// RegisterEvent and UnregisterEvent: the host keeps no registration, it only
// says whether it knows the event.
bool RegisterEvent(PageCall& call) {
  std::string eventName;
  if (!call.m_in.Text(0, eventName)) return call.BadParams();
  call.m_trace.Text("param1.c_str ()", eventName);
  call.m_trace.Message("RegisterEvent or UnregisterEvent: param1: eventName");
  const bool known = eventName == kInstallFinishEvent;
  call.m_trace.Number("result", known ? 1 : 0);
  call.m_trace.Message("RegisterEvent or UnregisterEvent result");
  if (known) {
    call.m_response.Bool(true);
  } else {
    call.Error();
  }
  return true;
}

bool RegisterAddOnEvent(PageCall& call) {
  int32_t addonId = 0;
  std::string eventName;
  if (!call.m_in.Int(0, addonId) || !call.m_in.Text(1, eventName)) return call.BadParams();
  call.m_trace.Number("param1", addonId);
  call.m_trace.Text("param2.c_str ()", eventName);
  call.m_trace.Message("RegisterAddOnEvent: param1: addonId; params2: eventName");
  if (!call.m_session.RegisterAddOnEvent(addonId, eventName, call.m_callbackId)) {
    call.m_trace.Message("RegisterAddOnEvent error - failed");
    call.Error();
    return true;
  }
  call.m_trace.Message("Successfully asked addon worker to register instance event and send result back. Leaving");
  return false;
}

bool UnregisterAddOnEvent(PageCall& call) {
  int32_t addonId = 0;
  std::string eventName;
  if (!call.m_in.Int(0, addonId) || !call.m_in.Text(1, eventName)) return call.BadParams();
  call.m_trace.Number("param1", addonId);
  call.m_trace.Text("param2.c_str ()", eventName);
  call.m_trace.Message("UnregisterAddOnEvent: param1: addonId; params2: eventName");
  const bool result = call.m_session.UnregisterAddOnEvent(addonId, eventName, call.m_callbackId);
  call.m_trace.Number("result", result);
  if (!result) {
    call.m_trace.Message("UnregisterAddOnEvent error - failed");
    call.Error();
    return true;
  }
  call.m_trace.Message("Successfully asked addon worker to unregister instance event and send result back. Leaving");
  return false;
}

constexpr const char kGetVersion[] = "GetVersion";

// Every command but "GetVersion" passes the permission gate first.
constexpr PageCommand kPageCommands[] = {
    {kGetVersion, &GetVersion, Pace::kPrompt},
    {"InstallAddOns", &InstallAddOns, Pace::kMayWait},
    {"CreateAddOnInstance", &CreateAddOnInstance, Pace::kMayWait},
    {"DisposeAddOnInstance", &DisposeAddOnInstance, Pace::kMayWait},
    {"InvokeAddOnInstance", &InvokeAddOnInstance, Pace::kMayWait},
    {"RegisterEvent", &RegisterEvent, Pace::kPrompt},
    {"UnregisterEvent", &RegisterEvent, Pace::kPrompt},
    {"RegisterAddOnEvent", &RegisterAddOnEvent, Pace::kMayWait},
    {"UnregisterAddOnEvent", &UnregisterAddOnEvent, Pace::kMayWait},
};

const PageCommand* FindPageCommand(std::string_view name) {
  for (const PageCommand& row : kPageCommands) {
    if (name == row.m_name) return &row;
  }
  return nullptr;
}

}  // namespace

// NOLINTNEXTLINE(performance-unnecessary-value-param): the signature every caller of this operation uses.
void Vorneth::DispatchWorkerFunc(void* arg, std::string command, const Json::Value& params, std::string callbackId) {
  auto* self = static_cast<Vorneth*>(arg);
  TraceFunction trace("Vorneth::DispatchWorkerFunc");
  trace.Pointer("vorneth", self);
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);

  ArrayWriter response(StyledWriter::ControlBytes::kEscaped);
  PageCall call{*self, PageParams(params), callbackId, trace, response};
  const PageCommand* row = FindPageCommand(command);
  bool send = true;
  if (self->m_blacklisted && (row == nullptr || row->m_name != kGetVersion)) {
    trace.Text("command.c_str ()", command);
    trace.Message("m_blacklisted is true");
    call.Error(kResultOriginBlocked);
  } else if (row == nullptr) {
    trace.Text("command.c_str ()", command);
    trace.Message("Invalid command");
    call.Error(kResultUnknownCommand);
  } else {
    if (row->m_pace != Pace::kPrompt) RunPostponedWork();
    send = row->m_handler(call);
  }

  if (!send) return;
  // The answer is the command's last step: the worker may write it once it
  // has said it is ready for the next command.
  PostponementScope postpone;
  self->SendAnswer("Vorneth", callbackId, std::move(response).Finish());
}

}  // namespace vorneth
