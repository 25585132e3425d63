// The add-on instance operations of a session: creation checks, disposal,
// and the operations that address a live instance, over the session's
// instance table (addon_table.h).
//
// They run on the session's dispatch workers, several at once; the table's
// lock serialises every change of the table. Results: CreateAddOnInstance
// answers kResultNothingMore when the creation was handed to the instance's
// add-on worker, kResultNotInstalled or kResultSignatureFailed otherwise
// (addon_results.h); the others answer false when the id is not live.
//
// Creation checks the installed files against their signed checksum list
// (package_verifier.h) and answers kResultSignatureFailed when they fail.
// This build has no add-on runtime to load a library into: creation also
// stops with kResultSignatureFailed when the files pass (traced), no id ever
// becomes live, and the operations that address a live instance refuse
// every id.
#ifndef VORNETH_ADDONS_ADDON_INSTANCES_H_
#define VORNETH_ADDONS_ADDON_INSTANCES_H_

#include <cstdint>
#include <string>
#include <utility>

#include "addons/addon_table.h"
#include "store/store_folder.h"

namespace vorneth {

class AddOnInstances {
 public:
  // Installation records are looked up in the store `store` finds.
  explicit AddOnInstances(store::StoreLocator store) : m_store(std::move(store)) {}
  AddOnInstances(const AddOnInstances&) = delete;
  AddOnInstances& operator=(const AddOnInstances&) = delete;

  int32_t CreateAddOnInstance(const std::string& uuid, const std::string& version, const std::string& callbackId);
  bool DisposeAddOnInstance(int32_t addonId, const std::string& uuid, const std::string& version,
                            const std::string& callbackId);
  bool InvokeAddOnInstance(int32_t addonId, const std::string& command, const std::string& params,
                           const std::string& callbackId);
  bool RegisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);
  bool UnregisterAddOnEvent(int32_t addonId, const std::string& eventName, const std::string& callbackId);

  // Session end: disposes every live instance in ascending id, without
  // answers to the page.
  void DisposeAll();

  AddOnTable& table() { return m_table; }
  const AddOnTable& table() const { return m_table; }

 private:
  const store::StoreLocator m_store;
  AddOnTable m_table;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_INSTANCES_H_
