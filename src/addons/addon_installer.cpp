#include "addons/addon_installer.h"

#include "addons/addon_results.h"
#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "net/request_maker.h"
#include "platform/data_directory.h"
#include "platform/trace.h"
#include "store/addon_records.h"

namespace vorneth {
namespace {

constexpr const char* kDescriptorKeys[] = {"packageUUID", "packageVersion", "packageURL"};

// The package location relative to the base path: a string as it is; for
// null or an object, its member "win"; anything else the empty text.
std::string PackageLocation(const Json::Value& descriptor) {
  const Json::Value& url = Member(descriptor, "packageURL");
  std::string location;
  if (url.isString()) {
    ReadText(url, location);
  } else if (url.isNull() || url.isObject()) {
    ReadText(Member(url, "win"), location);
  }
  return location;
}

// The descriptor as the page gave it, with the three package keys present
// (null where the page left one out), as the finish event reports it.
Json::Value EventDescriptor(const Json::Value& descriptor) {
  if (!descriptor.isObject() && !descriptor.isNull()) return descriptor;
  Json::Value copy = descriptor;
  for (const char* key : kDescriptorKeys) {
    if (!copy.isMember(key)) copy[key] = Json::Value();
  }
  return copy;
}

}  // namespace

int32_t AddOnInstaller::InstallAddOns(const std::string& basePath, const Json::Value& packages) {
  TraceFunction trace("Vorneth::InstallAddOns");
  trace.Text("basePath.c_str ()", basePath);
  int32_t result = kResultInstallFailed;
  if (!packages.isArray()) {
    trace.Message("package list is not a list");
    trace.SetResult(result);
    return result;
  }
  for (Json::ArrayIndex index = 0; index < packages.size(); ++index) {
    const Json::Value& descriptor = packages[index];
    std::string uuid, version;
    ReadText(Member(descriptor, "packageUUID"), uuid);
    ReadText(Member(descriptor, "packageVersion"), version);
    const std::string url = basePath + PackageLocation(descriptor);
    result = InstallAddOn(static_cast<int32_t>(index), uuid, version, url);
    trace.Text("uuid.c_str ()", uuid);
    trace.Text("basePath.c_str ()", basePath);
    trace.Number("result", result);
    trace.Message("Vorneth::InstallAddOn completed");
    if (!InstallSucceeded(result)) break;
    Json::Value event(Json::arrayValue);
    event.append(result);
    event.append(EventDescriptor(descriptor));
    m_events.RaiseAddOnEvent(kInstallFinishEvent, StyledWriter().write(event).c_str());
  }
  trace.SetResult(result);
  return result;
}

int32_t AddOnInstaller::InstallAddOn(int32_t index, const std::string& uuid, const std::string& version,
                                     const std::string& url) {
  TraceFunction trace("Vorneth::InstallAddOn");
  trace.Number("index", index);
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  trace.Text("url.c_str ()", url);
  if (store::IsInstalled(m_store(), uuid, version)) return kResultNothingMore;
  // Packages cannot be retrieved by this build: the download produced no
  // status.
  trace.Message("package not retrieved");
  trace.SetResult(kResultInstallFailed);
  return kResultInstallFailed;
}

int32_t AddOnInstaller::UninstallAddOn(const std::string& uuid, const std::string& version) {
  TraceFunction trace("Vorneth::UninstallAddOn");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  if (!store::IsInstalled(m_store(), uuid, version)) return kResultNothingMore;
  // A uuid or version that is not a plain folder name would address a folder
  // outside the add-on's own, and without a data directory the path would
  // start at the root; the files are then left alone and only the record goes.
  std::string dataDirectory;
  if (!GetDataDirectory(dataDirectory) || !RequestMaker::IsSafePathComponent(uuid) ||
      !RequestMaker::IsSafePathComponent(version)) {
    trace.Message("add-on files left in place");
  } else if (!DeleteDirectoryTree(RequestMaker::GetAddonPath(uuid, version))) {
    trace.Message("add-on files not deleted");
  }
  // A failure to change the store was traced where it happened.
  (void)store::UnsetInstalled(m_store(), uuid, version);
  trace.SetResult(kResultCompleted);
  return kResultCompleted;
}

}  // namespace vorneth
