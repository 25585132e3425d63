// Installation and removal of add-on packages for one session.
//
// InstallAddOns handles a page's package list in order, one package at a
// time, and stops at the first package that fails; after each package that
// succeeded it raises "AddOnInstallFinishEvent" through the session's event
// sink, with the compact JSON text [result, descriptor] as its data. Results
// are the codes of addon_results.h.
//
// A package is fetched from a "file" URL (addon_platform.h says how the
// URL names the file) or through RequestMaker::MakeHttpRequest, and is held
// in memory whole (at most kMaxPackageBytes). Its manifest must be valid
// (package_verifier.h) and name the requested uuid and version, and its
// inner archive "addon.zip" must carry the manifest's "signature"; the inner
// archive is then unpacked into a folder of its own, "unpacking/<uuid>/
// <version>" in the data directory, which is renamed to
// RequestMaker::GetAddonPath(uuid, version) once every file is written;
// only then is the installation recorded in the store, owned by the
// session's origin. So a record never names a folder that is not whole,
// even when the host is killed half-way: what a stopped installation left
// (a staging folder, an add-on folder without record) is cleared by the
// next installation of that add-on. Removal takes the record first and the
// files after it, for the same reason.
//
// Names in the inner archive that would leave the add-on's folder are not
// written, and entries that cannot be created are left out (traced): the
// signature check at instance creation catches missing files. An archive
// that breaks the unpacking limits, a file the disk cannot take and a
// record the store cannot take each leave no folder behind and no record.
//
// The installer keeps no state: its operations may run on several dispatch
// workers at once (the store serialises its own changes). The sink and the
// owner text must outlive the installer; the owner text is not changed
// while an operation runs.
#ifndef VORNETH_ADDONS_ADDON_INSTALLER_H_
#define VORNETH_ADDONS_ADDON_INSTALLER_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <utility>

#include "addons/addon_event_sink.h"
#include "platform/trace.h"
#include "store/store_folder.h"

namespace vorneth {

inline constexpr const char kInstallFinishEvent[] = "AddOnInstallFinishEvent";

class AddOnInstaller {
 public:
  // Events go to `events`; installation records are kept in the store
  // `store` finds, with `owner` (the session's origin text) as their owner.
  AddOnInstaller(AddOnEventSink& events, store::StoreLocator store, const std::string& owner)
      : m_events(events), m_store(std::move(store)), m_owner(owner) {}
  AddOnInstaller(const AddOnInstaller&) = delete;
  AddOnInstaller& operator=(const AddOnInstaller&) = delete;

  // `packages` is the page's list of package descriptors; each package is
  // fetched from `basePath` followed by its location. Returns the result of
  // the last package handled; kResultInstallFailed for a list that is empty
  // or not a list, and for a descriptor whose uuid, version or location has
  // a JSON type that cannot be read as a text.
  int32_t InstallAddOns(const std::string& basePath, const Json::Value& packages);
  // One package: kResultCompleted when installed (or when a download
  // answered 200 with nothing), kResultNothingMore when already installed,
  // kResultManifestInvalid for unsafe uuid or version (nothing is fetched)
  // or a manifest that is not valid, kResultSignatureFailed for an inner
  // archive that is missing, not signed, or breaks the unpacking limits,
  // kResultInstallFailed when the files or the record cannot be written
  // (the disk is full, say); otherwise the retrieval's status (-1 for no
  // status, 404, 413...).
  // `index` is only traced.
  int32_t InstallAddOn(int32_t index, const std::string& uuid, const std::string& version, const std::string& url);
  // Fetches the package at `url` into `body`; `origin` receives the URL's
  // origin text and `status` the retrieval's status (left as it was when
  // the URL is refused or no response came). True when a non-empty body
  // came with status 200.
  bool RetrieveAddonPackage(int32_t index, const std::string& url, std::string& origin, std::string& body,
                            int32_t& status);
  // Removes an installed add-on's record, then its files: kResultCompleted,
  // kResultNothingMore when it is not installed, kResultInstallFailed when
  // the record cannot be removed (the files then stay).
  int32_t UninstallAddOn(const std::string& uuid, const std::string& version);

 private:
  // InstallAddOn from the retrieved package on: verification, unpacking and
  // the record.
  int32_t InstallPackage(const TraceFunction& trace, const std::string& uuid, const std::string& version,
                         const std::string& origin, const std::string& package);

  AddOnEventSink& m_events;
  const store::StoreLocator m_store;
  const std::string& m_owner;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_INSTALLER_H_
