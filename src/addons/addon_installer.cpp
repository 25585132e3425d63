#include "addons/addon_installer.h"

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "addons/addon_results.h"
#include "addons/addon_unpacker.h"
#include "addons/package_verifier.h"
#include "addons/zip_archive.h"
#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "net/request_maker.h"
#include "platform/addon_platform.h"
#include "platform/data_directory.h"
#include "platform/file_reader_writer.h"
#include "security/security_origin.h"
#include "security/security_validator.h"
#include "store/addon_records.h"

namespace vorneth {
namespace {

constexpr const char* kDescriptorKeys[] = {"packageUUID", "packageVersion", "packageURL"};

// The largest icon taken into the store (a larger one leaves the icon text
// empty).
constexpr size_t kMaxIconBytes = size_t{1} << 20;

constexpr const char kFileScheme[] = "file";

// The package location relative to the base path: a string as it is; for
// null or an object, its member for this platform. False for any other
// type, and for a platform member that cannot be read as a text.
bool PackageLocation(const Json::Value& descriptor, std::string& location) {
  const Json::Value& url = Member(descriptor, "packageURL");
  if (url.isString()) return ReadText(url, location);
  if (url.isNull() || url.isObject()) return ReadText(Member(url, kPackageUrlMember), location);
  return false;
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

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The whole entry `name` of `archive`, of at most `limit` bytes; none
// (traced) when there is no archive, no such entry, or it cannot be read
// within the limit.
std::optional<std::string> ReadEntry(const TraceFunction& trace, const ZipArchive* archive, const char* name,
                                     size_t limit) {
  const std::optional<uint64_t> index = archive ? archive->Find(name) : std::nullopt;
  std::optional<std::string> content = index ? archive->Read(*index, limit) : std::nullopt;
  if (!content) {
    trace.Text("entry", name);
    trace.Message(index ? "package entry cannot be read within its limit" : "package entry missing");
  }
  return content;
}

// The manifest's member `name` as a text; empty (traced) when it has
// another type.
std::string ManifestText(const TraceFunction& trace, const Json::Value& manifest, const char* name) {
  std::string text;
  if (!ReadText(Member(manifest, name), text)) {
    trace.Text("member", name);
    trace.Message("manifest member is not a text");
  }
  return text;
}

// The icon text: for the unsigned manifest version the Base64 text of the
// package's icon file, otherwise the manifest's "icon".
std::string IconText(const TraceFunction& trace, const ZipArchive* package, const Json::Value& manifest) {
  int32_t manifestVersion = 0;
  if (ReadInt(Member(manifest, "manifest_version"), manifestVersion) && manifestVersion == kUnsignedManifestVersion) {
    const std::optional<std::string> icon = ReadEntry(trace, package, kIconFile, kMaxIconBytes);
    return icon ? Base64Encode(Bytes(*icon), icon->size()) : std::string();
  }
  return ManifestText(trace, manifest, "icon");
}

// Reads the package a "file" URL names, within kMaxPackageBytes.
void ReadPackageFile(const TraceFunction& trace, const std::string& url, std::string& body, int32_t& status) {
  if (url.size() < kFileUrlMinimumLength) {
    trace.Message("file URL too short");
    return;
  }
  switch (FileReaderWriter::ReadFile(url.substr(kFileUrlPathStart), body, kMaxPackageBytes)) {
    case FileRead::kTooLarge:
      status = kResultPackageTooLarge;
      return;
    case FileRead::kRead:
      status = body.empty() ? kResultPackageNotFound : kResultCompleted;
      return;
    case FileRead::kAbsent:
    case FileRead::kFailed:
      status = kResultPackageNotFound;
      return;
  }
}

// Downloads the package from the URL's origin; the path is the rest of the
// URL.
void DownloadPackage(const TraceFunction& trace, const std::string& url, const std::string& origin, std::string& body,
                     int32_t& status) {
  if (origin.size() > url.size()) {
    trace.Message("URL shorter than its origin text");
    return;
  }
  std::string received;
  size_t length = 0;
  if (RequestMaker::MakeHttpRequest(origin, url.substr(origin.size()), received, length, status) != kHttpExchangeDone) {
    // Whatever arrived is partial: a failed download, whatever its status.
    trace.Message("download failed");
    status = kResultInstallFailed;
    return;
  }
  if (length == 0) {
    // A 200 without a body is no package, as an empty file is none.
    if (status == kResultCompleted) status = kResultPackageNotFound;
    return;
  }
  // The client keeps no body over kMaxPackageBytes (it answers 413).
  body = std::move(received);
}

// The folder beside "addons" in the data directory where add-ons are
// unpacked before they are renamed into place. No uuid or version can name
// it, and it is on the volume of the add-on folders, so the rename is one
// step.
constexpr const char kUnpackingFolderName[] = "unpacking";

// Where the add-on `uuid` `version` (safe folder names) is unpacked; none
// (traced) without a data directory.
std::optional<std::string> UnpackingFolder(const TraceFunction& trace, const std::string& uuid,
                                           const std::string& version) {
  std::string path;
  if (!GetDataDirectory(path)) {
    trace.Message("no data directory: nothing unpacked");
    return std::nullopt;
  }
  return path + kPathSeparator + kUnpackingFolderName + kPathSeparator + uuid + kPathSeparator + version;
}

// Removes whatever stands at `path`. False (traced) when something stays.
bool ClearPlace(const TraceFunction& trace, const std::string& path) {
  if (!FileReaderWriter::Exists(path) || DeleteDirectoryTree(path)) return true;
  trace.Text("path", path);
  trace.Message("a folder left by an earlier installation cannot be removed");
  return false;
}

// `path` without the separators it ends in (GetAddonPath's folder ends in
// one; a rename wants the folder's own name).
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && std::string_view(kPathSeparators).find(path.back()) != std::string_view::npos) {
    path.pop_back();
  }
  return path;
}

// Creates the folder that holds `path` (no trailing separator), with its
// own parents. Never `path` itself: an empty add-on folder, even for a
// moment, would be one that is not whole.
bool CreateParent(const std::string& path) {
  const size_t end = path.find_last_of(kPathSeparators);
  return end != std::string::npos && end > 0 && CreateDirectoryTree(path.substr(0, end));
}

// Unpacks the inner archive into `staging`, then renames that to `folder`,
// so that the add-on's folder holds every file whole, or is not there: a
// host stopped at any moment leaves at most a staging folder, which the next
// installation of the add-on clears with an add-on folder that has no record.
// kResultCompleted once the folder is in place; kResultSignatureFailed for an
// archive that breaks the unpacking limits; kResultInstallFailed when the
// disk cannot take the files. Nothing stays of a failed unpacking.
int32_t PlaceAddOnFiles(const TraceFunction& trace, const std::string& inner, const std::string& staging,
                        const std::string& folder) {
  if (!ClearPlace(trace, folder) || !ClearPlace(trace, staging)) return kResultInstallFailed;
  if (!CreateParent(folder) || !CreateDirectoryTree(staging)) {
    trace.Message("add-on folder not created");
    return kResultInstallFailed;
  }
  switch (UnpackAddOnArchive(std::span<const uint8_t>(Bytes(inner), inner.size()), staging)) {
    case UnpackResult::kUnpacked:
      break;
    case UnpackResult::kNotAnArchive:
      trace.Message("inner archive cannot be read: nothing unpacked");
      break;
    case UnpackResult::kRefused:
      trace.Message("inner archive breaks the unpacking limits");
      return kResultSignatureFailed;
    case UnpackResult::kWriteFailed:
      trace.Message("add-on files cannot be written");
      return kResultInstallFailed;
  }
  if (!RenameDirectory(staging, folder)) {
    trace.Message("add-on folder not put in place");
    (void)DeleteDirectoryTree(staging);  // traces its own failure
    return kResultInstallFailed;
  }
  return kResultCompleted;
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
    std::string uuid, version, location;
    if (!ReadText(Member(descriptor, "packageUUID"), uuid) ||
        !ReadText(Member(descriptor, "packageVersion"), version) || !PackageLocation(descriptor, location)) {
      trace.Message("package descriptor member of the wrong type");
      result = kResultInstallFailed;
      break;
    }
    result = InstallAddOn(static_cast<int32_t>(index), uuid, version, basePath + location);
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
  if (!RequestMaker::IsSafePathComponent(uuid) || !RequestMaker::IsSafePathComponent(version)) {
    trace.Message("uuid or version is not a safe folder name");
    trace.SetResult(kResultManifestInvalid);
    return kResultManifestInvalid;
  }
  if (store::IsInstalled(m_store(), uuid, version)) return kResultNothingMore;
  std::string origin, package;
  int32_t result = kResultInstallFailed;
  if (!RetrieveAddonPackage(index, url, origin, package, result)) {
    trace.Message("package not retrieved");
  } else {
    result = InstallPackage(trace, uuid, version, origin, package);
  }
  trace.SetResult(result);
  return result;
}

int32_t AddOnInstaller::InstallPackage(const TraceFunction& trace, const std::string& uuid, const std::string& version,
                                       const std::string& origin, const std::string& package) {
  if (!ZipArchive::Reachable()) {
    trace.Message("the ZIP library cannot be reached");
    return kResultInstallFailed;
  }
  const std::unique_ptr<ZipArchive> archive =
      ZipArchive::Open(std::span<const uint8_t>(Bytes(package), package.size()));
  if (!archive) trace.Message("package is not a readable archive");
  const std::string manifestText =
      ReadEntry(trace, archive.get(), kManifestFile, kMaxManifestBytes).value_or(std::string());
  Json::Value manifest;
  (void)ParseJsonUpToDamage(manifestText, manifest);
  if (!IsManifestValid(manifestText, manifest, uuid, version)) return kResultManifestInvalid;

  const std::optional<std::string> inner = ReadEntry(trace, archive.get(), kInnerArchiveFile, kMaxPackageBytes);
  const std::string signature = ManifestText(trace, manifest, "signature");
  if (!inner || !SecurityValidator::ValidateFileSignature(Bytes(*inner), inner->size(), signature)) {
    trace.Message("inner archive missing or not signed");
    return kResultSignatureFailed;
  }
  const std::string icon = IconText(trace, archive.get(), manifest);
  const std::optional<std::string> folder = RequestMaker::GetAddonPath(uuid, version);
  const std::optional<std::string> staging = UnpackingFolder(trace, uuid, version);
  if (!folder || !staging) {
    trace.Message("no add-on folder: nothing unpacked");
  } else if (const int32_t placed = PlaceAddOnFiles(trace, *inner, *staging, WithoutTrailingSeparators(*folder));
             placed != kResultCompleted) {
    return placed;
  }
  // The record comes last, so that it never names files that are not all
  // there; without it the files are of no use and go.
  const Status recorded =
      store::SetInstalled(m_store(), uuid, version, origin, m_owner, ManifestText(trace, manifest, "name"),
                          ManifestText(trace, manifest, "description"), icon);
  if (!recorded.ok()) {
    trace.Message("installation not recorded: the add-on's files are removed");
    if (folder) (void)DeleteDirectoryTree(*folder);  // traces its own failure
    return kResultInstallFailed;
  }
  return kResultCompleted;
}

bool AddOnInstaller::RetrieveAddonPackage(int32_t index, const std::string& url, std::string& origin, std::string& body,
                                          int32_t& status) {
  TraceFunction trace("Vorneth::RetrieveAddonPackage");
  trace.Number("idx", index);
  trace.Text("url.c_str ()", url);
  body.clear();
  SecurityOrigin source;
  // A URL that does not resolve leaves the origin empty: it is then taken
  // whole as the path of a request that cannot be made.
  (void)source.InitFromUrl(url.c_str());
  origin = source.m_origin;
  if (url.find('\0') != std::string::npos) {
    trace.Message("URL holds a NUL byte");
  } else if (source.m_scheme == kFileScheme) {
    ReadPackageFile(trace, url, body, status);
  } else {
    DownloadPackage(trace, url, origin, body, status);
  }
  trace.Number("status", status);
  const bool retrieved = !body.empty() && status == kResultCompleted;
  trace.SetResult(retrieved ? 1 : 0);
  return retrieved;
}

int32_t AddOnInstaller::UninstallAddOn(const std::string& uuid, const std::string& version) {
  TraceFunction trace("Vorneth::UninstallAddOn");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  if (!store::IsInstalled(m_store(), uuid, version)) return kResultNothingMore;
  // The record goes first: a removal stopped half-way leaves files without a
  // record (the next installation clears them), never a record without its
  // files. A record that cannot be removed keeps the files it names.
  if (!store::UnsetInstalled(m_store(), uuid, version).ok()) {
    trace.Message("installation record not removed: the add-on's files stay");
    trace.SetResult(kResultInstallFailed);
    return kResultInstallFailed;
  }
  // Without a safe path (a uuid or version that is not a plain folder name,
  // no data directory) the files are left alone.
  const std::optional<std::string> folder = RequestMaker::GetAddonPath(uuid, version);
  if (!folder) {
    trace.Message("add-on files left in place");
  } else if (!DeleteDirectoryTree(*folder)) {
    trace.Message("add-on files not deleted");
  }
  trace.SetResult(kResultCompleted);
  return kResultCompleted;
}

}  // namespace vorneth
