// A page session: the host's state for the one page connection a host
// process serves.
//
// The main loop creates a session on "Create" and destroys it at the end of
// input. The session knows the page's origin and whether it is blocked,
// queues page commands for its three dispatch workers, runs host commands on
// the caller's thread, owns the page's add-on instances (addons/) and the
// secure data that add-ons hand over, and is the single way out towards the
// page: every message passes through VornethCallback.
//
// Dispatch workers: a session whose three workers could not all be started
// (the system refused a thread) answers every page command ["Error"] at once
// instead of queueing it; host commands run as usual. A session replaced by
// a later "Create" is retired (Retire): its workers end once the commands
// they are running have finished, and its destruction later only joins them.
//
// Locks, all plain non-recursive mutexes, in this order (outer to inner):
// m_dispatchLock, m_internalDispatchLock, then m_secureDataLock or the
// add-on table's lock (addons/addon_table.h), then m_callbackLock, which is
// always innermost: nothing is locked from inside the host callback. The
// library-directory lock m_dllDirectory is a semaphore taken and given back
// by add-ons (possibly on different threads); the session waits for it only
// while it holds none of the locks above.
#ifndef VORNETH_SESSION_VORNETH_H_
#define VORNETH_SESSION_VORNETH_H_

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addons/addon_event_sink.h"
#include "addons/addon_host.h"
#include "addons/addon_installer.h"
#include "addons/addon_instances.h"
#include "addons/package_verifier.h"
#include "dispatch/command_cache.h"
#include "dispatch/command_worker.h"
#include "json/message_text.h"
#include "platform/binary_semaphore.h"
#include "platform/mutex.h"
#include "platform/trace.h"
#include "security/security_origin.h"
#include "store/store_folder.h"
#include "vorneth_version.h"

namespace vorneth {

// The host callback that receives every serialised message of a session,
// written with control bytes escaped and, where the writer could record it,
// with its layout (json/message_text.h).
using HostCallback = void (*)(MessageText message, void* context, int32_t instanceId);

// The host callback add-on libraries and the installer talk back through
// (the type ::EventCallback of vorneth_addon.h). `context` is the session.
// Returns a text that stays the session's, or null.
extern "C" const char* VORNETH_ADDON_CALL EventCallback(void* context, const char* name, const char* data);

class Vorneth : private AddOnEventSink, private AddOnHost {
 public:
  // `origin` is the page URL; `id` the session id sent as "instanceId".
  // The store is the one in the data directory, looked up anew for every
  // store operation.
  Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context, const std::string& extVersion);
  // The same with the store that `store` finds (tests hand a folder of
  // their own); the session and its add-on code use no other.
  Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context, const std::string& extVersion,
          store::StoreLocator store);
  // Stops the dispatch workers (running commands finish and their answers
  // are written, queued ones are dropped), then disposes every live add-on
  // instance and frees the secure data. Messages sent after the workers
  // stopped are dropped. Waits only for commands still running.
  virtual ~Vorneth();
  Vorneth(const Vorneth&) = delete;
  Vorneth& operator=(const Vorneth&) = delete;

  // Serialises `response` and hands it to the host callback under the
  // callback lock.
  void VornethCallback(Json::Value response) EXCLUDES(m_callbackLock);
  // The same for an answer {"callbackId", "instanceId", "response",
  // "rtype"}, written directly from its parts: no object is built for it.
  // `response` is the text of an array that an ArrayWriter wrote for
  // messages (control bytes escaped).
  void SendAnswer(const char* rtype, const std::string& callbackId, std::string_view response) EXCLUDES(m_callbackLock);
  // Queues a page command; returns once a dispatch worker has taken it. On a
  // session without running workers, answers ["Error"] instead.
  void VornethDispatch(std::string command, Json::Value params, std::string callbackId) EXCLUDES(m_dispatchLock);
  // Runs a host command to completion, answer included.
  void VornethDispatchInternal(std::string command, Json::Value params, std::string callbackId)
      EXCLUDES(m_internalDispatchLock);
  // For a session that receives no more requests: its dispatch workers end
  // as soon as they are idle (a running command finishes and is answered),
  // without waiting here. Add-on instances keep running until destruction.
  // Called by the thread that dispatches to the session.
  void Retire() EXCLUDES(m_dispatchLock);
  // False when the dispatch workers could not all be started.
  bool WorkersRunning() const EXCLUDES(m_dispatchLock);
  // For a retired session: joins the dispatch workers whose loop has ended,
  // so that their threads are released, and never waits for one that still
  // runs a command. True once no worker is left. Called by the thread that
  // dispatches to the session.
  bool JoinEndedWorkers() EXCLUDES(m_dispatchLock);
  // For a retired session: JoinEndedWorkers, then true once, besides no
  // dispatch worker, no add-on instance is live or being created and no
  // add-on worker runs (AddOnTable::Idle). Nothing can reach such a session
  // any more: destroying it changes nothing a page or an add-on can see.
  bool Finished() EXCLUDES(m_dispatchLock);

  // The work function of the dispatch workers; `arg` is the session.
  static void DispatchWorkerFunc(void* arg, std::string command, const Json::Value& params, std::string callbackId);

  // Add-on operations (addons/addon_instances.h).
  int32_t CreateAddOnInstance(const std::string& uuid, const std::string& version, const std::string& callbackId) {
    return m_addons.CreateAddOnInstance(uuid, version, callbackId);
  }
  bool DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                            const std::string& callbackId) {
    return m_addons.DisposeAddOnInstance(addonId, uuid, version, callbackId);
  }
  bool InvokeAddOnInstance(int32_t addonId, const std::string& command, std::string_view params,
                           const std::string& callbackId) {
    return m_addons.InvokeAddOnInstance(addonId, command, params, callbackId);
  }
  bool RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId) {
    return m_addons.RegisterAddOnEvent(addonId, eventName, callbackId);
  }
  bool UnregisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId) {
    return m_addons.UnregisterAddOnEvent(addonId, eventName, callbackId);
  }

  // Installation (addons/addon_installer.h).
  int32_t InstallAddOns(const std::string& basePath, const Json::Value& packages) {
    return m_installer.InstallAddOns(basePath, packages);
  }
  int32_t InstallAddOn(int32_t index, const std::string& uuid, const std::string& version, const std::string& url) {
    return m_installer.InstallAddOn(index, uuid, version, url);
  }
  int32_t UninstallAddOn(const std::string& uuid, const std::string& version) {
    return m_installer.UninstallAddOn(uuid, version);
  }

  // Package and installed-file checks (addons/package_verifier.h).
  static bool IsManifestValid(const std::string& text, const Json::Value& manifest, const std::string& uuid,
                              const std::string& version) {
    return vorneth::IsManifestValid(text, manifest, uuid, version);
  }
  static bool CheckAddOnSignature(const std::string& path) { return vorneth::CheckAddOnSignature(path); }

  const std::string& domain() const { return m_domain; }
  const std::string& extVersion() const { return m_extVersion; }
  bool blacklisted() const { return m_blacklisted.load(); }

 private:
  friend const char* VORNETH_ADDON_CALL EventCallback(void* context, const char* name, const char* data);
  friend struct HostCommands;

  // False (traced) when a worker's thread could not be started; the workers
  // that did start are then stopped again.
  bool StartDispatchWorkers() REQUIRES(m_dispatchLock);
  // Asks every worker to stop and wakes the idle ones; waits for nothing.
  void RequestWorkersStop() REQUIRES(m_dispatchLock);
  // Stops the workers and waits for their threads to end.
  void StopDispatchWorkers() REQUIRES(m_dispatchLock);
  // m_blacklisted from the store's domain permissions.
  void RefreshBlacklisted();
  // The rest of VornethCallback, in its trace scope: hands `message` to the
  // host callback under the callback lock.
  void Deliver(const TraceFunction& trace, MessageText message, int32_t instanceId) EXCLUDES(m_callbackLock);
  // An event message {"event", "instanceId", "response", "rtype"}.
  void SendEvent(const char* name, const char* data) EXCLUDES(m_callbackLock);
  // AddOnEventSink: the installer's events take the add-ons' own way in.
  void RaiseAddOnEvent(const char* name, const char* data) override;
  // AddOnHost: what the add-on instances are given and how they answer.
  void* HostContext() override { return this; }
  ::EventCallback AddOnCallback() override { return &vorneth::EventCallback; }
  int32_t SessionId() const override { return m_sessionId; }
  void SendToPage(Json::Value message) override { VornethCallback(std::move(message)); }
  void LockDllDirectory() override;
  void UnlockDllDirectory() override;
  // Secure-data relay (EventCallback).
  const char* SetSecureData(const char* data) EXCLUDES(m_secureDataLock);
  const char* GetSecureData(const char* handle) EXCLUDES(m_secureDataLock);
  void AckSetSecureData(const char* handle) EXCLUDES(m_secureDataLock);
  void AckGetSecureData(const char* handle) EXCLUDES(m_secureDataLock);

  // Read without a lock by every thread; written by host commands.
  std::atomic<bool> m_blacklisted{true};
  std::atomic<bool> m_unregistered{false};
  std::unique_ptr<SecurityOrigin> m_securityOrigin;
  // Set by the constructor, constant afterwards.
  const store::StoreLocator m_store;
  std::string m_domain;
  const std::string m_extVersion;
  const int32_t m_sessionId;

  mutable Mutex m_dispatchLock ACQUIRED_BEFORE(m_internalDispatchLock);
  Mutex m_internalDispatchLock ACQUIRED_BEFORE(m_secureDataLock, m_callbackLock);
  Mutex m_secureDataLock ACQUIRED_BEFORE(m_callbackLock);
  Mutex m_callbackLock;
  // Held from "LockDllDirectory" to "UnlockDllDirectory" and around library
  // loading.
  BinarySemaphore m_dllDirectory;

  // Destroyed after the workers that drain it.
  VornethCommandCache m_commandCache;
  std::vector<std::unique_ptr<VornethCommandWorker>> m_workers GUARDED_BY(m_dispatchLock);
  bool m_workersRunning GUARDED_BY(m_dispatchLock) = false;
  bool m_retired GUARDED_BY(m_dispatchLock) = false;

  HostCallback m_callback GUARDED_BY(m_callbackLock);
  void* const m_callbackContext;

  // The add-on instance table and its operations, and installation (whose
  // records name m_domain as their owner).
  AddOnInstances m_addons;
  AddOnInstaller m_installer;

  // Secure data, indexed by handle. The texts live in their own buffers so
  // pointers handed out stay valid while the vectors grow.
  std::vector<std::unique_ptr<char[]>> m_secureData GUARDED_BY(m_secureDataLock);
  std::vector<std::unique_ptr<char[]>> m_secureHandles GUARDED_BY(m_secureDataLock);
};

}  // namespace vorneth

#endif  // VORNETH_SESSION_VORNETH_H_
