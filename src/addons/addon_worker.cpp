// The add-on worker's side of the add-on instances: the work function every
// instance's worker runs, and its handlers. Everything here runs on the
// worker's thread, one command of its instance at a time.
#include <utility>

#include "addons/addon_instances.h"
#include "addons/addon_library.h"
#include "addons/addon_results.h"
#include "json/json_conversions.h"
#include "platform/postponed_work.h"
#include "platform/trace.h"
#include "store/addon_records.h"

namespace vorneth {
namespace {

Json::Value Response(Json::Value response) {
  Json::Value answer(Json::objectValue);
  answer["response"] = std::move(response);
  return answer;
}

Json::Value ErrorResponse() {
  Json::Value response(Json::arrayValue);
  response.append(kErrorText);
  return Response(std::move(response));
}

Json::Value ErrorResponse(int32_t code) {
  Json::Value answer = ErrorResponse();
  answer["response"].append(code);
  return answer;
}

Json::Value OneElementResponse(Json::Value element) {
  Json::Value response(Json::arrayValue);
  response.append(std::move(element));
  return Response(std::move(response));
}

// The parameters as the session side built them. A text or number that
// cannot be read stays empty or 0, which names no live instance.
int32_t IdParam(const Json::Value& params) {
  int32_t addonId = kNoAddOnInstance;
  ReadInt(Element(params, 0), addonId);
  return addonId;
}

std::string TextParam(const Json::Value& params, Json::ArrayIndex index) {
  std::string text;
  ReadText(Element(params, index), text);
  return text;
}

// Holds the session's library-loading lock for a scope.
class DllDirectoryLock {
 public:
  explicit DllDirectoryLock(AddOnHost& host) : m_host(&host) { m_host->LockDllDirectory(); }
  ~DllDirectoryLock() { Unlock(); }
  DllDirectoryLock(const DllDirectoryLock&) = delete;
  DllDirectoryLock& operator=(const DllDirectoryLock&) = delete;
  void Unlock() {
    if (m_host == nullptr) return;
    m_host->UnlockDllDirectory();
    m_host = nullptr;
  }

 private:
  AddOnHost* m_host;
};

}  // namespace

const AddOnInstances::WorkerCommand AddOnInstances::kWorkerCommands[] = {
    {kCreateAddOnInstanceCommand, &AddOnInstances::CreateInstance},
    {kDisposeAddOnInstanceCommand, &AddOnInstances::DisposeInstance},
    {kRegisterAddOnEventCommand, &AddOnInstances::RegisterEvent},
    {kUnregisterAddOnEventCommand, &AddOnInstances::UnregisterEvent},
};

// The work function type of every command worker hands its texts over.
// NOLINTBEGIN(performance-unnecessary-value-param)
void AddOnInstances::AddonWorkerFunc(void* arg, std::string command, const Json::Value& params,
                                     std::string callbackId) {
  // NOLINTEND(performance-unnecessary-value-param)
  auto* self = static_cast<AddOnInstances*>(arg);
  TraceFunction trace("Vorneth::AddonWorkerFunc");
  trace.Pointer("vorneth", self->m_host.HostContext());
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  Handler handler = &AddOnInstances::InvokeInstance;
  for (const WorkerCommand& row : kWorkerCommands) {
    if (command == row.m_name) {
      handler = row.m_handler;
      break;
    }
  }
  Json::Value answer;
  try {
    answer = (self->*handler)(command, params);
  } catch (...) {
    // An add-on's C++ code may throw through its entry points; the page is
    // told the command failed instead of waiting for an answer for good.
    trace.Message("the command failed: an exception reached the add-on worker");
    answer = ErrorResponse();
    // A creation that threw before its instance became live failed as a
    // refused one does.
    if (handler == &AddOnInstances::CreateInstance) self->EndFailedCreation(IdParam(params));
  }
  if (callbackId.empty()) {
    trace.Message("No callbackId => not sending response");
    return;
  }
  self->Answer(std::move(answer), callbackId);
}

void AddOnInstances::Answer(Json::Value answer, const std::string& callbackId) {
  answer["rtype"] = "Vorneth";
  answer["callbackId"] = callbackId;
  answer["instanceId"] = m_host.SessionId();
  // The answer is the command's last step: the worker may write it once it
  // has said it is ready for the next command.
  PostponementScope postpone;
  m_host.SendToPage(std::move(answer));
}

Json::Value AddOnInstances::CreateInstance(const std::string& /*command*/, const Json::Value& params) {
  TraceFunction trace("Vorneth::AddonWorkerCreateAddOnInstance");
  const int32_t addonId = IdParam(params);
  const std::string addonPath = TextParam(params, 1);
  const std::string uuid = TextParam(params, 2);
  const std::string version = TextParam(params, 3);
  trace.Number("addonId", addonId);
  trace.Text("addonPath.c_str ()", addonPath);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);

  DllDirectoryLock dllDirectory(m_host);
  const AddOnLibrary library(AddOnLibrary::Load(addonPath));
  if (!library.handle()) {
    dllDirectory.Unlock();
    trace.Message("Vorneth::CreateAddOnInstance - Addon library load failed!!!");
    EndFailedCreation(addonId);
    return ErrorResponse(kResultLibraryLoadFailed);
  }
  trace.Message("Vorneth::CreateAddOnInstance - Addon library loaded successfully");
  library.InitPath(addonPath);
  // A library without onCreate cannot make an instance: it fails as a
  // refused creation does.
  const int32_t instance = library.Create(m_host.HostContext(), m_host.AddOnCallback()).value_or(kResultCreateFailed);
  dllDirectory.Unlock();
  if (instance < 0) {
    trace.Number("instance", instance);
    trace.Message("Vorneth::CreateAddOnInstance - Create addon instance failed!!!");
    EndFailedCreation(addonId);
    return ErrorResponse(kResultCreateFailed);
  }

  Json::Value info(Json::objectValue);
  info["uuid"] = uuid;
  info["version"] = version;
  info["name"] = store::GetAddOnName(m_store(), uuid);
  m_table.SetLive(addonId, library.handle(), instance, std::move(info));

  SendLibraryText(addonId, {"Vorneth::GetAddOnCSS", "Vorneth-CSS", "css", &AddOnLibrary::CSS});
  SendLibraryText(addonId, {"Vorneth::GetAddOnJS", "Vorneth-JS", "js", &AddOnLibrary::JS});
  return OneElementResponse(addonId);
}

void AddOnInstances::EndFailedCreation(int32_t addonId) {
  if (!m_table.MarkFailed(addonId)) return;
  // No command can reach an id that never became live; the worker ends once
  // this command's answer has been written, and the session side frees it
  // (EndFailedCreations).
  m_table.WorkerOf(addonId)->PrepareStop();
  m_table.CacheOf(addonId)->ReleaseGet();
}

void AddOnInstances::SendLibraryText(int32_t addonId, const LibraryTextMessage& kind) {
  TraceFunction trace(kind.m_scope);
  trace.Number("addonId", addonId);
  const std::optional<LiveAddOn> live = m_table.Live(addonId);
  if (!live) return;
  const std::optional<std::string> text = (AddOnLibrary(live->m_library).*kind.m_entry)();
  if (!text) return;
  Json::Value message(Json::objectValue);
  message["rtype"] = kind.m_rtype;
  message[kind.m_member] = *text;
  message["instanceId"] = m_host.SessionId();
  m_host.SendToPage(std::move(message));
}

Json::Value AddOnInstances::DisposeInstance(const std::string& /*command*/, const Json::Value& params) {
  TraceFunction trace("Vorneth::AddonWorkerDisposeAddOnInstance");
  const int32_t addonId = IdParam(params);
  trace.Number("addonId", addonId);
  trace.Text("uuid.c_str ()", TextParam(params, 1));
  trace.Text("version.c_str ()", TextParam(params, 2));

  trace.Message("Cleaning addon data");
  const std::optional<LiveAddOn> cleared = m_table.Clear(addonId);
  if (cleared) {
    trace.Number("addonId", addonId);
    trace.Number("instance", cleared->m_instance);
    trace.Message("Calling addon's onDispose()");
    if (!AddOnLibrary(cleared->m_library).Dispose(cleared->m_instance)) trace.Message("onDispose method not found");
  } else {
    // The session's end stops the worker of an instance that never became
    // live.
    trace.Message("no live instance: nothing to dispose");
  }
  trace.Message("Setting worker for stop after this command");
  m_table.WorkerOf(addonId)->PrepareStop();
  // Nothing takes a command from this cache any more. Commands stored
  // behind this one would keep their Puts waiting, this disposal's among
  // them (a Put waits until the ring is empty): the release lets them all
  // return, the later ones refused.
  m_table.CacheOf(addonId)->ReleaseGet();
  return OneElementResponse(true);
}

Json::Value AddOnInstances::InvokeInstance(const std::string& command, const Json::Value& params) {
  TraceFunction trace("Vorneth::AddonWorkerInvokeAddOnInstance");
  const int32_t addonId = IdParam(params);
  // The text may be as large as the request: it is read where it stands in
  // the parameters, not copied. A string value's bytes are followed by a
  // NUL (what asCString hands out), and so are the literals a null or a
  // boolean reads as, so the view's data is the text the library expects.
  std::string_view text;
  ReadTextView(Element(params, 1), text);
  const char* const textBytes = text.empty() ? "" : text.data();
  trace.Number("addonId", addonId);
  trace.Text("command.c_str ()", command);
  trace.DataText("params.c_str ()", text);
  const std::optional<LiveAddOn> live = m_table.Live(addonId);
  const std::optional<std::string> result =
      live ? AddOnLibrary(live->m_library).Invoke(live->m_instance, command, textBytes) : std::nullopt;
  if (!result) {
    trace.Message("onInvoke method not found");
    return ErrorResponse();
  }
  // Whatever the reader built is the answer, also from a damaged document
  // (null for an empty text).
  Json::Value document;
  ParseJson(*result, document);
  return Response(std::move(document));
}

Json::Value AddOnInstances::RegisterEvent(const std::string& /*command*/, const Json::Value& params) {
  return ChangeEvent("Vorneth::AddonWorkerRegisterAddOnEvent", false, params);
}

Json::Value AddOnInstances::UnregisterEvent(const std::string& /*command*/, const Json::Value& params) {
  return ChangeEvent("Vorneth::AddonWorkerUnregisterAddOnEvent", true, params);
}

Json::Value AddOnInstances::ChangeEvent(const char* scope, bool unregister, const Json::Value& params) {
  TraceFunction trace(scope);
  const int32_t addonId = IdParam(params);
  const std::string eventName = TextParam(params, 1);
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  const std::optional<LiveAddOn> live = m_table.Live(addonId);
  std::optional<bool> accepted;
  if (live) {
    const AddOnLibrary library(live->m_library);
    accepted = unregister ? library.UnregisterEvent(live->m_instance, eventName)
                          : library.RegisterEvent(live->m_instance, eventName);
  }
  if (!accepted) trace.Message(unregister ? "onUnregisterEvent method not found" : "onRegisterEvent method not found");
  if (!accepted.value_or(false)) return ErrorResponse();
  return OneElementResponse(true);
}

}  // namespace vorneth
