// The session side of the add-on instances: each operation checks the table
// and hands its command to the instance's add-on worker.
#include "addons/addon_instances.h"

#include <optional>

#include "addons/addon_results.h"
#include "addons/package_verifier.h"
#include "net/request_maker.h"
#include "platform/trace.h"
#include "store/addon_records.h"

namespace vorneth {
namespace {

Json::Value Params(int32_t addonId, std::string_view text) {
  Json::Value params(Json::arrayValue);
  params.append(addonId);
  params.append(Json::Value(text.data(), text.data() + text.size()));
  return params;
}

bool IsReservedCommand(std::string_view command) {
  return command == kCreateAddOnInstanceCommand || command == kDisposeAddOnInstanceCommand ||
         command == kRegisterAddOnEventCommand || command == kUnregisterAddOnEventCommand;
}

}  // namespace

int32_t AddOnInstances::CreateAddOnInstance(const std::string& uuid, const std::string& version,
                                            const std::string& callbackId) {
  TraceFunction trace("Vorneth::CreateAddOnInstance");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  if (!store::IsInstalled(m_store(), uuid, version)) {
    trace.Text("uuid.c_str ()", uuid);
    trace.Text("version.c_str ()", version);
    trace.Message("Vorneth::IsInstalled not installed.");
    trace.SetResult(kResultNotInstalled);
    return kResultNotInstalled;
  }
  trace.Message("Vorneth::IsInstalled true.");
  // A record whose uuid or version names no safe folder has no files that
  // could be checked.
  const std::optional<std::string> addonPath = RequestMaker::GetAddonPath(uuid, version);
  if (!addonPath || !CheckAddOnSignature(*addonPath)) {
    trace.Text("addonPath.c_str ()", addonPath.value_or(std::string()));
    trace.Message("Vorneth::CheckAddOnSignature failed.");
    trace.SetResult(kResultSignatureFailed);
    return kResultSignatureFailed;
  }
  trace.Text("addonPath.c_str ()", *addonPath);
  trace.Message("Vorneth::CheckAddOnSignature true.");

  EndFailedCreations();
  const std::optional<int32_t> addonId = m_table.Reserve([this](int32_t workerId, VornethCommandCache* cache) {
    return std::make_unique<VornethCommandWorker>(workerId, cache, &AddonWorkerFunc, this);
  });
  if (!addonId) {
    // Reserve traced the refused thread; no id was given out.
    trace.SetResult(kResultCreateFailed);
    return kResultCreateFailed;
  }
  trace.Number("addonId", *addonId);
  trace.Message("Got new addon ID");

  Json::Value params(Json::arrayValue);
  params.append(*addonId);
  params.append(*addonPath);
  params.append(uuid);
  params.append(version);
  // A new worker takes its first command: nobody else knows the id yet.
  m_table.CacheOf(*addonId)->Put(std::string(kCreateAddOnInstanceCommand), std::move(params), callbackId);
  return kResultNothingMore;
}

bool AddOnInstances::DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                                          const std::string& callbackId) {
  TraceFunction trace("Vorneth::DisposeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  trace.Text("callbackId.c_str ()", callbackId);
  const std::shared_ptr<VornethCommandCache> cache = m_table.LiveCache(addonId);
  if (cache == nullptr) return false;
  trace.Number("addonId", addonId);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  trace.Message("Sending DisposeAddOnInstance command to addon worker");
  Json::Value params(Json::arrayValue);
  params.append(addonId);
  params.append(uuid);
  params.append(version);
  if (!cache->Put(std::string(kDisposeAddOnInstanceCommand), std::move(params), callbackId)) {
    // Another disposal of the id was taken first and ended the worker.
    trace.Message("the instance was disposed meanwhile");
    return false;
  }
  EndWorker(addonId, trace);
  return true;
}

void AddOnInstances::EndWorker(int32_t addonId, const TraceFunction& trace) {
  trace.Message("Waiting for thread finish");
  // Only the thread whose disposal the worker took gets here for an id, so
  // the worker is still in its slot.
  m_table.WorkerOf(addonId)->Join();
  trace.Message("Thread finished");
  AddOnSlot ended = m_table.TakeWorker(addonId);
  // Commands that found the id live but came after the disposal wait in
  // Put for a worker that has gone: the release lets them return, refused.
  // They hold the cache until then.
  ended.m_cache->ReleaseGet();
  trace.Message("Disposing worker");
  ended.m_worker.reset();
  trace.Message("Disposing cache");
  ended.m_cache.reset();
}

void AddOnInstances::EndIdleWorker(int32_t addonId) {
  TraceFunction trace("AddOnInstances::EndIdleWorker");
  trace.Number("addonId", addonId);
  Json::Value params(Json::arrayValue);
  params.append(addonId);
  params.append("");
  params.append("");
  // The worker takes it once a creation it may still run has ended; no
  // other command can reach an id that is not live. Refused, it found the
  // cache released by a failed creation, whose worker stops by itself:
  // either way the worker is ending.
  if (!m_table.CacheOf(addonId)->Put(std::string(kDisposeAddOnInstanceCommand), std::move(params), "")) {
    trace.Message("the creation failed: its worker stops by itself");
  }
  EndWorker(addonId, trace);
}

void AddOnInstances::EndFailedCreations() {
  for (AddOnSlot& ended : m_table.TakeEndedFailed()) {
    // The loop has ended: this Join only releases the thread.
    ended.m_worker->Join();
    ended.m_worker.reset();
    ended.m_cache.reset();
  }
}

void AddOnInstances::DisposeAll() {
  for (const int32_t addonId : m_table.IdsWithWorker()) {
    if (!DisposeAddOnInstance(addonId, "", "", "")) EndIdleWorker(addonId);
  }
}

bool AddOnInstances::HandOver(VornethCommandCache& cache, const TraceFunction& trace, const std::string& command,
                              Json::Value params, const std::string& callbackId) {
  if (cache.Put(command, std::move(params), callbackId)) return true;
  trace.Message("the instance was disposed before its worker took the command");
  return false;
}

bool AddOnInstances::InvokeAddOnInstance(int32_t addonId, const std::string& command, std::string_view params,
                                         const std::string& callbackId) {
  TraceFunction trace("Vorneth::InvokeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("command.c_str ()", command);
  trace.DataText("params.c_str ()", params);
  trace.Text("callbackId.c_str ()", callbackId);
  if (IsReservedCommand(command)) {
    // The worker would take it for one of its own commands: a page could
    // dispose or re-create an instance behind the table's back.
    trace.Message("Vorneth::InvokeAddOnInstance reserved command name refused!");
    return false;
  }
  const std::shared_ptr<VornethCommandCache> cache = m_table.LiveCache(addonId);
  if (cache == nullptr) {
    trace.Message("Vorneth::InvokeAddOnInstance addonId checks failed!");
    return false;
  }
  trace.Message("Sending command to addon worker");
  return HandOver(*cache, trace, command, Params(addonId, params), callbackId);
}

bool AddOnInstances::RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId) {
  return QueueEventChange(
      {"Vorneth::RegisterAddOnEvent", kRegisterAddOnEventCommand, "Sending RegisterAddOnEvent command to addon worker"},
      addonId, eventName, callbackId);
}

bool AddOnInstances::UnregisterAddOnEvent(int32_t addonId, const std::string& eventName,
                                          const std::string& callbackId) {
  return QueueEventChange({"Vorneth::UnregisterAddOnEvent", kUnregisterAddOnEventCommand,
                           "Sending UnregisterAddOnEvent command to addon worker"},
                          addonId, eventName, callbackId);
}

bool AddOnInstances::QueueEventChange(const EventChange& change, int32_t addonId, const std::string& eventName,
                                      const std::string& callbackId) {
  TraceFunction trace(change.m_scope);
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  trace.Text("callbackId.c_str ()", callbackId);
  const std::shared_ptr<VornethCommandCache> cache = m_table.LiveCache(addonId);
  if (cache == nullptr) return false;
  trace.Message(change.m_queuedMessage);
  return HandOver(*cache, trace, std::string(change.m_command), Params(addonId, eventName), callbackId);
}

}  // namespace vorneth
