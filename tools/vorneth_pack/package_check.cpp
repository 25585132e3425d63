#include "package_check.h"

#include <json/value.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>

#include "addons/addon_unpacker.h"
#include "addons/package_verifier.h"
#include "addons/zip_archive.h"
#include "json/json_conversions.h"
#include "net/request_maker.h"
#include "security/security_validator.h"

namespace vorneth::pack {
namespace {

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object ends.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "vorneth-pack-verify-XXXXXX").string();
    if (!error && mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TemporaryFolder() {
    std::error_code error;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  // Empty when the folder could not be made.
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// The entry `name` within `limit` bytes; none with `why` set otherwise.
std::optional<std::string> Entry(const ZipArchive& archive, const char* name, size_t limit, std::string& why) {
  const std::optional<uint64_t> index = archive.Find(name);
  if (!index) {
    why = std::string(name) + ": missing from the package";
    return std::nullopt;
  }
  std::optional<std::string> content = archive.Read(*index, limit);
  if (!content) why = std::string(name) + ": cannot be read, or larger than " + std::to_string(limit) + " bytes";
  return content;
}

// The manifest's member `name` read as a text, as the host reads it.
std::string ManifestMember(const Json::Value& manifest, const char* name) {
  std::string text;
  (void)ReadText(Member(manifest, name), text);
  return text;
}

// What IsManifestValid refused: its signature, or the identity asked for.
std::string ManifestFailure(const std::string& text, const Json::Value& manifest, const std::string& uuid,
                            const std::string& version) {
  const std::string ownUuid = ManifestMember(manifest, "uuid");
  const std::string ownVersion = ManifestMember(manifest, "version");
  if (IsManifestValid(text, manifest, ownUuid, ownVersion)) {
    return "manifest.json: names uuid \"" + ownUuid + "\" version \"" + ownVersion + "\", not uuid \"" + uuid +
           "\" version \"" + version + "\" (the host answers -8)";
  }
  return "manifest.json: not valid: not a signed manifest of this build's key, or damaged (the host answers -8)";
}

// The unpacking and the installed-file check, in a temporary folder.
Status CheckUnpacked(const std::string& inner, CheckReport& report) {
  const TemporaryFolder folder;
  if (folder.path().empty()) return Status::Failed("verify: cannot make a temporary folder");
  switch (UnpackAddOnArchive(std::span<const uint8_t>(Bytes(inner), inner.size()), folder.path())) {
    case UnpackResult::kRefused:
      report.m_failure = "addon.zip: breaks the unpacking limits or has overlapping entries (the host answers -4)";
      return Status::Ok();
    case UnpackResult::kNotAnArchive:
      report.m_passed.push_back("addon.zip: not a readable archive; the host installs nothing from it");
      break;
    case UnpackResult::kUnpacked:
      report.m_passed.push_back("addon.zip: unpacks");
      break;
    case UnpackResult::kWriteFailed:
      // This machine's disk, not the package, failed the check.
      return Status::Failed("verify: the temporary folder cannot take the unpacked files");
  }
  if (!CheckAddOnSignature(folder.path() + "/")) {
    report.m_failure =
        "installed files: signature.json is missing, not signed by this build's key, or a file does not match it "
        "(the host refuses to create an instance)";
    return Status::Ok();
  }
  report.m_passed.push_back("installed files: match their signed checksum list");
  return Status::Ok();
}

}  // namespace

Status CheckPackage(const CheckRequest& request, CheckReport& report) {
  report = CheckReport();
  const std::unique_ptr<ZipArchive> archive =
      ZipArchive::Open(std::span<const uint8_t>(Bytes(request.m_package), request.m_package.size()));
  if (!archive) {
    report.m_failure = "package: not a readable ZIP archive (the host answers -8)";
    return Status::Ok();
  }
  const std::optional<std::string> text = Entry(*archive, kManifestFile, kMaxManifestBytes, report.m_failure);
  if (!text) return Status::Ok();
  Json::Value manifest;
  (void)ParseJsonUpToDamage(*text, manifest);
  const std::string uuid = request.m_uuid.value_or(ManifestMember(manifest, "uuid"));
  const std::string version = request.m_version.value_or(ManifestMember(manifest, "version"));
  if (!IsManifestValid(*text, manifest, uuid, version)) {
    report.m_failure = ManifestFailure(*text, manifest, uuid, version);
    return Status::Ok();
  }
  report.m_passed.push_back("manifest.json: valid for uuid \"" + uuid + "\" version \"" + version + "\"");
  const std::optional<std::string> inner = Entry(*archive, kInnerArchiveFile, kMaxPackageBytes, report.m_failure);
  if (!inner) return Status::Ok();
  if (!SecurityValidator::ValidateFileSignature(Bytes(*inner), inner->size(), ManifestMember(manifest, "signature"))) {
    report.m_failure = "addon.zip: does not carry the manifest's \"signature\" (the host answers -4)";
    return Status::Ok();
  }
  report.m_passed.push_back("addon.zip: carries the manifest's signature");
  return CheckUnpacked(*inner, report);
}

}  // namespace vorneth::pack
