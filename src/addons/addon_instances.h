// The add-on instances of a session: the operations a page's commands reach
// (creation, disposal, invocation, event registration) on the session side,
// and the add-on worker that runs each instance's commands.
//
// Session side (the session's dispatch workers, several at once, and the
// thread that ends the session):
//  - CreateAddOnInstance checks the installation record and the installed
//    files, reserves an id in the table (addon_table.h) with a new cache and
//    add-on worker, and hands "CreateAddOnInstance" to that worker. Results:
//    kResultNothingMore (the worker answers the page later),
//    kResultNotInstalled, kResultSignatureFailed, or kResultCreateFailed when
//    the system refused the worker's thread (addon_results.h). It first
//    frees the ended workers of earlier failed creations: a failed
//    creation's worker stops itself once it has answered, and its slot is
//    dropped when it is freed here or at the session's end.
//  - DisposeAddOnInstance, InvokeAddOnInstance, RegisterAddOnEvent and
//    UnregisterAddOnEvent hand their command to a live id's worker and return
//    true; false when the id is not live, or when the command could not be
//    handed over because the instance was disposed meanwhile: then nobody
//    else answers it. InvokeAddOnInstance also refuses the worker's own
//    command names (kReservedAddOnCommands). DisposeAddOnInstance returns
//    once the instance's worker has ended and its worker and cache are freed.
//  - DisposeAll, at the session's end, once no dispatch worker runs: ends
//    every id that still has a worker, in ascending id. Live instances are
//    disposed without answers; a creation still running finishes first; the
//    workers of failed creations, which stop by themselves, are joined. No
//    thread outlives it.
//  - Idle (the table's): once no instance is live and every add-on worker
//    has ended, nothing of the add-ons can call into the session any more
//    (an add-on calls back only from onCreate until onDispose has returned,
//    and both run on the instance's worker).
//
// Worker side: AddonWorkerFunc is the work function of every add-on worker
// (its argument is this object). It runs one command of one instance:
// loads the library and creates the instance, disposes of it, invokes it or
// registers an event with it, and answers the page through the host when the
// command has a callback identifier.
//
// The table's lock is never held across a Put, a Join or a library call.
#ifndef VORNETH_ADDONS_ADDON_INSTANCES_H_
#define VORNETH_ADDONS_ADDON_INSTANCES_H_

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "addons/addon_host.h"
#include "addons/addon_library.h"
#include "addons/addon_table.h"
#include "platform/trace.h"
#include "store/store_folder.h"

namespace vorneth {

// The add-on worker's own command names, in the order they are matched.
inline constexpr std::string_view kCreateAddOnInstanceCommand = "CreateAddOnInstance";
inline constexpr std::string_view kDisposeAddOnInstanceCommand = "DisposeAddOnInstance";
inline constexpr std::string_view kRegisterAddOnEventCommand = "RegisterAddOnEvent";
inline constexpr std::string_view kUnregisterAddOnEventCommand = "UnregisterAddOnEvent";

class AddOnInstances {
 public:
  // Installation records are looked up in the store `store` finds; the
  // instances talk to the page through `host`, which outlives this object.
  AddOnInstances(store::StoreLocator store, AddOnHost& host) : m_store(std::move(store)), m_host(host) {}
  AddOnInstances(const AddOnInstances&) = delete;
  AddOnInstances& operator=(const AddOnInstances&) = delete;

  int32_t CreateAddOnInstance(const std::string& uuid, const std::string& version, const std::string& callbackId);
  bool DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                            const std::string& callbackId);
  bool InvokeAddOnInstance(int32_t addonId, const std::string& command, std::string_view params,
                           const std::string& callbackId);
  bool RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);
  bool UnregisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);

  void DisposeAll();

  static void AddonWorkerFunc(void* arg, std::string command, const Json::Value& params, std::string callbackId);

  AddOnTable& table() { return m_table; }
  const AddOnTable& table() const { return m_table; }

 private:
  using Handler = Json::Value (AddOnInstances::*)(const std::string& command, const Json::Value& params);
  struct WorkerCommand {
    std::string_view m_name;
    Handler m_handler;
  };
  static const WorkerCommand kWorkerCommands[];

  // Session side.
  // Puts a command into a live id's cache: false (traced) when the command
  // was not taken, because the instance was disposed first.
  static bool HandOver(VornethCommandCache& cache, const TraceFunction& trace, const std::string& command,
                       Json::Value params, const std::string& callbackId);
  // RegisterAddOnEvent and UnregisterAddOnEvent: one pattern, these texts.
  struct EventChange {
    const char* m_scope;
    std::string_view m_command;
    const char* m_queuedMessage;
  };
  bool QueueEventChange(const EventChange& change, int32_t addonId, const std::string& eventName,
                        const std::string& callbackId);
  // Once the worker of `addonId` has taken its "DisposeAddOnInstance":
  // waits for its thread to end, then frees worker and cache, traced in
  // `trace`.
  void EndWorker(int32_t addonId, const TraceFunction& trace);
  // Session end for an id that is not live: the same command, so that a
  // creation still running finishes (and its instance is disposed) first;
  // then waits for the worker and frees it.
  void EndIdleWorker(int32_t addonId);
  // Frees the workers of failed creations that have ended (and so drops
  // their slots); waits for none that still runs.
  void EndFailedCreations();

  // Worker side (addon_worker.cpp): each returns the answer {"response"}.
  Json::Value CreateInstance(const std::string& command, const Json::Value& params);
  Json::Value DisposeInstance(const std::string& command, const Json::Value& params);
  Json::Value InvokeInstance(const std::string& command, const Json::Value& params);
  Json::Value RegisterEvent(const std::string& command, const Json::Value& params);
  Json::Value UnregisterEvent(const std::string& command, const Json::Value& params);
  // Register or unregister (`unregister`), traced in `scope`.
  Json::Value ChangeEvent(const char* scope, bool unregister, const Json::Value& params);
  // The style or script message of a live id, when its library has one.
  struct LibraryTextMessage {
    const char* m_scope;
    const char* m_rtype;
    const char* m_member;
    std::optional<std::string> (AddOnLibrary::*m_entry)() const;
  };
  void SendLibraryText(int32_t addonId, const LibraryTextMessage& kind);
  // A failed creation: marks the slot failed and stops its worker after
  // this command.
  void EndFailedCreation(int32_t addonId);
  void Answer(Json::Value answer, const std::string& callbackId);

  const store::StoreLocator m_store;
  AddOnHost& m_host;
  AddOnTable m_table;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_INSTANCES_H_
