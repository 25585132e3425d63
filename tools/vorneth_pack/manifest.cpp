#include "manifest.h"

#include <json/value.h>

#include "encodings.h"
#include "json/styled_writer.h"

namespace vorneth::pack {
namespace {

constexpr char kSignatureSlot[] = "\"manifest_signature\":\"\"";

// Puts the manifest's own signature between the quotes of its empty
// "manifest_signature" value in `text`.
Status SignInPlace(const SigningKey& key, std::string& text) {
  std::string signature;
  if (Status signed_ = key.Sign(text, signature); !signed_.ok()) return signed_;
  // Every quote inside a JSON string is escaped, so the first match is the
  // member itself.
  const size_t slot = text.find(kSignatureSlot);
  if (slot == std::string::npos) return Status::Failed("manifest: no place for its signature");
  const size_t digits = slot + sizeof kSignatureSlot - 2;
  text.insert(digits, signature);
  // The host deletes the first occurrence of the digits; should they also
  // stand earlier (inside the description, say), it would delete those.
  if (text.find(signature) != digits) return Status::Failed("manifest: its text holds its own signature");
  return Status::Ok();
}

}  // namespace

Status ManifestText(const ManifestFields& fields, const std::string& innerArchive, const SigningKey& key,
                    std::string& text) {
  Json::Value manifest(Json::objectValue);
  manifest["uuid"] = fields.m_uuid;
  manifest["version"] = fields.m_version;
  manifest["name"] = fields.m_name;
  manifest["description"] = fields.m_description;
  manifest["manifest_version"] = fields.m_manifestVersion;
  std::string innerSignature;
  if (Status signed_ = key.Sign(innerArchive, innerSignature); !signed_.ok()) return signed_;
  manifest["signature"] = innerSignature;
  if (fields.m_manifestVersion == kUnsignedManifestVersion) {
    text = StyledWriter().write(manifest);
    return Status::Ok();
  }
  manifest["icon"] = Base64(fields.m_icon);
  manifest["manifest_signature"] = "";
  text = StyledWriter().write(manifest);
  return SignInPlace(key, text);
}

}  // namespace vorneth::pack
