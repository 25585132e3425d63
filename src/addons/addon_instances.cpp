#include "addons/addon_instances.h"

#include <optional>

#include "addons/addon_results.h"
#include "addons/package_verifier.h"
#include "net/request_maker.h"
#include "platform/trace.h"
#include "store/addon_records.h"

namespace vorneth {

int32_t AddOnInstances::CreateAddOnInstance(const std::string& uuid, const std::string& version,
                                            const std::string& /*callbackId*/) {
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
  // The files are intact, but this build has no add-on runtime to load
  // them into.
  trace.Message("Vorneth::CreateAddOnInstance - the add-on runtime is not in this build.");
  trace.SetResult(kResultSignatureFailed);
  return kResultSignatureFailed;
}

bool AddOnInstances::DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                                          const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::DisposeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  return m_table.IsLive(addonId);
}

bool AddOnInstances::InvokeAddOnInstance(int32_t addonId, const std::string& command, const std::string& params,
                                         const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::InvokeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("command.c_str ()", command);
  trace.DataText("params.c_str ()", params);
  return m_table.IsLive(addonId);
}

bool AddOnInstances::RegisterAddOnEvent(int32_t addonId, const std::string& eventName,
                                        const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::RegisterAddOnEvent");
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  return m_table.IsLive(addonId);
}

bool AddOnInstances::UnregisterAddOnEvent(int32_t addonId, const std::string& eventName,
                                          const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::UnregisterAddOnEvent");
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  return m_table.IsLive(addonId);
}

void AddOnInstances::DisposeAll() {
  for (const int32_t addonId : m_table.LiveIds()) DisposeAddOnInstance(addonId, "", "", "");
}

}  // namespace vorneth
