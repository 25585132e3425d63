// Installation and removal of add-on packages for one session.
//
// InstallAddOns handles a page's package list in order, one package at a
// time, and stops at the first package that fails; after each package that
// succeeded it raises "AddOnInstallFinishEvent" through the session's event
// sink, with the compact JSON text [result, descriptor] as its data. Results
// are the codes of addon_results.h.
//
// The installer keeps no state: its operations may run on several dispatch
// workers at once (the store serialises its own changes). The sink must
// outlive the installer.
#ifndef VORNETH_ADDONS_ADDON_INSTALLER_H_
#define VORNETH_ADDONS_ADDON_INSTALLER_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <utility>

#include "addons/addon_event_sink.h"
#include "store/store_folder.h"

namespace vorneth {

inline constexpr const char kInstallFinishEvent[] = "AddOnInstallFinishEvent";

class AddOnInstaller {
 public:
  // Events go to `events`; installation records are kept in the store
  // `store` finds.
  AddOnInstaller(AddOnEventSink& events, store::StoreLocator store) : m_events(events), m_store(std::move(store)) {}
  AddOnInstaller(const AddOnInstaller&) = delete;
  AddOnInstaller& operator=(const AddOnInstaller&) = delete;

  // `packages` is the page's list of package descriptors; each package is
  // fetched from `basePath` followed by its location. Returns the result of
  // the last package handled; kResultInstallFailed for a list that is empty
  // or not a list.
  int32_t InstallAddOns(const std::string& basePath, const Json::Value& packages);
  // One package. kResultNothingMore when already installed; this build
  // cannot retrieve packages, so any other package fails
  // (kResultInstallFailed).
  int32_t InstallAddOn(int32_t index, const std::string& uuid, const std::string& version, const std::string& url);
  // Removes an installed add-on's record and files: kResultCompleted, or
  // kResultNothingMore when it is not installed.
  int32_t UninstallAddOn(const std::string& uuid, const std::string& version);

 private:
  AddOnEventSink& m_events;
  const store::StoreLocator m_store;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_INSTALLER_H_
