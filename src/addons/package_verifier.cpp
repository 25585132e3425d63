#include "addons/package_verifier.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "addons/checksum_list.h"
#include "addons/relative_name.h"
#include "json/json_conversions.h"
#include "platform/file_reader_writer.h"
#include "platform/trace.h"
#include "security/digest.h"
#include "security/security_validator.h"

namespace vorneth {
namespace {

// Trace results of the two checks.
constexpr int32_t kTraceValid = 1;
constexpr int32_t kTraceInvalid = 0;

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The signature step of a manifest that is not of the unsigned version: the
// text without the first occurrence of its signature digits must verify
// against them.
bool IsManifestSigned(const TraceFunction& trace, const std::string& text, const Json::Value& manifest) {
  std::string signature;
  if (!ReadText(Member(manifest, "manifest_signature"), signature)) {
    trace.Message("manifest_signature is not a text");
    return false;
  }
  std::string signedText = text;
  const size_t at = signedText.find(signature);
  if (at != std::string::npos) signedText.erase(at, signature.size());
  if (!SecurityValidator::ValidateFileSignature(Bytes(signedText), signedText.size(), signature)) {
    trace.Message("manifest signature does not verify");
    return false;
  }
  return true;
}

// True when the manifest's member `name` reads as a text equal to `wanted`.
bool NamesExactly(const Json::Value& manifest, const char* name, const std::string& wanted) {
  std::string value;
  return ReadText(Member(manifest, name), value) && value == wanted;
}

// One entry of the checksum list: {"<file name>": "<digest hex>"}, judged by
// the member whose name sorts first.
bool IsEntryIntact(const TraceFunction& trace, const std::string& path, const Json::Value& entry) {
  if (!entry.isObject() || entry.empty()) {
    trace.Message("checksum entry is not an object with a member");
    return false;
  }
  const Json::Value::const_iterator first = entry.begin();
  const std::string name = first.name();
  trace.Text("name.c_str ()", name);
  if (!IsContainedRelativeName(name)) {
    trace.Message("checksum entry names a file outside the add-on folder");
    return false;
  }
  std::string expected;
  if (!ReadText(*first, expected)) {
    trace.Message("checksum entry digest is not a text");
    return false;
  }
  // A missing or unreadable file counts as empty content (traced by the
  // reader); only its digest decides.
  std::string content;
  (void)FileReaderWriter::ReadFile(path + name, content);
  const Sha1Digest digest = ComputeSha1(Bytes(content), content.size());
  const auto decoded = HexToBytes(expected);
  if (!decoded || decoded->size() != digest.size() || !std::equal(digest.begin(), digest.end(), decoded->begin())) {
    trace.Message("file digest differs from the checksum list");
    return false;
  }
  return true;
}

}  // namespace

bool IsManifestValid(const std::string& text, const Json::Value& manifest, const std::string& uuid,
                     const std::string& version) {
  TraceFunction trace("Vorneth::IsManifestValid");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  trace.SetResult(kTraceInvalid);
  if (text.size() > kMaxManifestBytes) {
    trace.Message("manifest too large");
    return false;
  }
  int32_t manifestVersion = 0;
  if (!ReadInt(Member(manifest, "manifest_version"), manifestVersion)) {
    trace.Message("manifest_version is not a number");
    return false;
  }
  if (manifestVersion != kUnsignedManifestVersion && !IsManifestSigned(trace, text, manifest)) return false;
  if (!NamesExactly(manifest, "uuid", uuid) || !NamesExactly(manifest, "version", version)) {
    trace.Message("manifest names another add-on or version");
    return false;
  }
  trace.SetResult(kTraceValid);
  return true;
}

bool CheckAddOnSignature(const std::string& path) {
  TraceFunction trace("Vorneth::CheckAddOnSignature");
  trace.Text("path.c_str ()", path);
  trace.SetResult(kTraceInvalid);
  // A missing, unreadable or broken list leaves an empty or partial root;
  // its signature then fails unless what was read happens to verify.
  std::string text;
  (void)FileReaderWriter::ReadFile(path + kChecksumListFile, text);
  Json::Value root;
  (void)ParseJsonUpToDamage(text, root);
  std::string signature;
  const Json::Value& checksum = Member(root, kChecksumMember);
  if (!ReadText(Member(root, kChecksumSignatureMember), signature) || !checksum.isArray()) {
    trace.Message("checksum list has members of the wrong type");
    return false;
  }
  const std::string canonical = CanonicalChecksumText(checksum);
  if (!SecurityValidator::ValidateFileSignature(Bytes(canonical), canonical.size(), signature)) {
    trace.Message("checksum list signature does not verify");
    return false;
  }
  for (Json::ArrayIndex index = 0; index < checksum.size(); ++index) {
    if (!IsEntryIntact(trace, path, checksum[index])) return false;
  }
  trace.SetResult(kTraceValid);
  return true;
}

}  // namespace vorneth
