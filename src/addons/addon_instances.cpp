// The session's add-on instance table: creation checks, id bookkeeping and
// the operations that address a live instance.
#include "net/request_maker.h"
#include "platform/trace.h"
#include "session/vorneth.h"
#include "store/vorneth_db.h"

namespace vorneth {
bool Vorneth::IsLiveAddOn(int32_t addonId) const {
  return addonId >= 0 && static_cast<size_t>(addonId) < m_addonInstances.size() && m_addonInstances[addonId] != -1;
}

// Instances are started only by the add-on runtime, which this build does
// not run: no id is ever live, and the operations that address a live
// instance refuse every id.
bool Vorneth::IsLiveAddOnLocked(int32_t addonId) {
  std::lock_guard<std::mutex> lock(m_addonLock);
  return IsLiveAddOn(addonId);
}

int32_t Vorneth::CreateAddOnInstance(const std::string& uuid, const std::string& version,
                                     const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::CreateAddOnInstance");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  if (!VornethDB::IsInstalled(uuid, version)) {
    trace.Text("uuid.c_str ()", uuid);
    trace.Text("version.c_str ()", version);
    trace.Message("Vorneth::IsInstalled not installed.");
    trace.SetResult(-5);
    return -5;
  }
  trace.Message("Vorneth::IsInstalled true.");
  const std::string addonPath = RequestMaker::GetAddonPath(uuid, version);
  // The signed checksum list of installed files cannot be checked by this
  // build, so no installed add-on is trusted to start.
  trace.Text("addonPath.c_str ()", addonPath);
  trace.Message("Vorneth::CheckAddOnSignature failed.");
  trace.SetResult(-4);
  return -4;
}

bool Vorneth::DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                                   const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::DisposeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  return IsLiveAddOnLocked(addonId);
}

bool Vorneth::InvokeAddOnInstance(int32_t addonId, const std::string& command, const std::string& params,
                                  const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::InvokeAddOnInstance");
  trace.Number("addonId", addonId);
  trace.Text("command.c_str ()", command);
  trace.DataText("params.c_str ()", params);
  return IsLiveAddOnLocked(addonId);
}

bool Vorneth::RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::RegisterAddOnEvent");
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  return IsLiveAddOnLocked(addonId);
}

bool Vorneth::UnregisterAddOnEvent(int32_t addonId, const std::string& eventName,
                                   const std::string& /*callbackId*/) {
  TraceFunction trace("Vorneth::UnregisterAddOnEvent");
  trace.Number("addonId", addonId);
  trace.Text("eventName.c_str ()", eventName);
  return IsLiveAddOnLocked(addonId);
}

}  // namespace vorneth
