// A page session: the host's state for the one page connection a host
// process serves.
//
// The main loop creates a session on "Create" and destroys it at the end of
// input. The session knows the page's origin and whether it is blocked,
// queues page commands for its three dispatch workers, runs host commands on
// the caller's thread, owns the page's add-on instances and the secure data
// that add-ons hand over, and is the single way out towards the page: every
// message passes through VornethCallback.
//
// Locks, all plain non-recursive mutexes. Order (outer to inner):
// m_dispatchLock, m_internalDispatchLock, m_addonLock / m_secureDataLock /
// m_dllDirectoryLock, m_callbackLock. m_callbackLock is always innermost.
#ifndef VORNETH_SESSION_VORNETH_H_
#define VORNETH_SESSION_VORNETH_H_

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/command_cache.h"
#include "dispatch/command_worker.h"
#include "security/security_origin.h"
#include "vorneth_version.h"

namespace vorneth {

// The host callback that receives every serialised message of a session.
using HostCallback = void (*)(std::string text, void* context, int32_t instanceId);

// The host callback add-on libraries and the installer talk back through.
// `context` is the session. Returns a text that stays the session's, or null.
extern "C" const char* EventCallback(void* context, const char* name, const char* data);


class Vorneth {
 public:
  // `origin` is the page URL; `id` the session id sent as "instanceId".
  Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context, const std::string& extVersion);
  // Stops the dispatch workers (running commands finish, queued ones are
  // dropped), then disposes every live add-on instance and frees the secure
  // data. Messages sent after the workers stopped are dropped.
  virtual ~Vorneth();
  Vorneth(const Vorneth&) = delete;
  Vorneth& operator=(const Vorneth&) = delete;

  // Serialises `response` and hands it to the host callback under the
  // callback lock.
  void VornethCallback(Json::Value response);
  // Queues a page command; returns once a dispatch worker has taken it.
  void VornethDispatch(std::string command, Json::Value params, std::string callbackId);
  // Runs a host command to completion, answer included.
  void VornethDispatchInternal(std::string command, Json::Value params, std::string callbackId);

  // The work function of the dispatch workers; `arg` is the session.
  static void DispatchWorkerFunc(void* arg, std::string command, Json::Value params, std::string callbackId);

  // Add-on operations (the instance table).
  int32_t CreateAddOnInstance(const std::string& uuid, const std::string& version, const std::string& callbackId);
  bool DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                            const std::string& callbackId);
  bool InvokeAddOnInstance(int32_t addonId, const std::string& command, const std::string& params,
                           const std::string& callbackId);
  bool RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);
  bool UnregisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);

  // Installation.
  int32_t InstallAddOns(const std::string& basePath, const Json::Value& packages);
  int32_t InstallAddOn(int32_t index, const std::string& uuid, const std::string& version, const std::string& url);
  int32_t UninstallAddOn(const std::string& uuid, const std::string& version);

  const std::string& domain() const { return m_domain; }
  bool blacklisted() const { return m_blacklisted.load(); }

 private:
  friend const char* EventCallback(void* context, const char* name, const char* data);

  void StartDispatchWorkers();
  void StopDispatchWorkers();
  // Host command rows that read the instance table.
  Json::Value ActiveAddOnList();
  // Secure-data relay (EventCallback).
  const char* SetSecureData(const char* data);
  const char* GetSecureData(const char* handle);
  void AckSetSecureData(const char* handle);
  void AckGetSecureData(const char* handle);
  // The live add-on ids; callers hold m_addonLock.
  bool IsLiveAddOn(int32_t addonId) const;
  // The same, taking m_addonLock.
  bool IsLiveAddOnLocked(int32_t addonId);

  std::atomic<bool> m_blacklisted{true};
  std::atomic<bool> m_unregistered{false};
  std::unique_ptr<SecurityOrigin> m_securityOrigin;
  std::string m_domain;
  std::string m_extVersion;
  std::mutex m_dispatchLock;
  std::mutex m_internalDispatchLock;
  std::mutex m_callbackLock;
  std::mutex m_secureDataLock;
  std::mutex m_addonLock;
  std::mutex m_dllDirectoryLock;
  VornethCommandCache m_commandCache;
  std::vector<std::unique_ptr<VornethCommandWorker>> m_workers;
  HostCallback m_callback;
  void* m_callbackContext;
  // Add-on instance table, indexed by add-on id; guarded by m_addonLock.
  std::vector<void*> m_addonLibraries;
  std::vector<int32_t> m_addonInstances;
  std::vector<Json::Value> m_addonInfos;
  std::vector<std::unique_ptr<VornethCommandCache>> m_addonCaches;
  std::vector<std::unique_ptr<VornethCommandWorker>> m_addonWorkers;
  // Secure data, indexed by handle; guarded by m_secureDataLock. The texts
  // live in their own buffers so pointers handed out stay valid while the
  // vectors grow.
  std::vector<std::unique_ptr<char[]>> m_secureData;
  std::vector<std::unique_ptr<char[]>> m_secureHandles;
  int32_t m_sessionId;
};

}  // namespace vorneth

#endif  // VORNETH_SESSION_VORNETH_H_
