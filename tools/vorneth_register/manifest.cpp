#include "manifest.h"

#include <json/value.h>

#include <algorithm>

#include "json/json_conversions.h"
#include "json/styled_writer.h"

namespace vorneth::reg {
namespace {

constexpr char kDescription[] = "Vorneth native add-on host";
constexpr char kOriginPrefix[] = "chrome-extension://";
constexpr char kReinstall[] = "run vorneth-register install to write it anew";

std::string Quoted(const std::string& text) {
  return StyledWriter(StyledWriter::ControlBytes::kEscaped).write(Json::Value(text));
}

std::string Origin(const std::string& id) {
  return kOriginPrefix + id + "/";
}

std::string QuotedList(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + Quoted(item);
  return "[" + text + "]";
}

void Add(ManifestReading& reading, std::string problem, std::string fix, Effect effect) {
  reading.m_findings.push_back({std::move(problem), std::move(fix), effect});
}

// An origin the Chromium family accepts: chrome-extension://<32 a-p>/.
bool IsWellFormedOrigin(const std::string& origin) {
  const std::string prefix = kOriginPrefix;
  return origin.size() == prefix.size() + 33 && origin.compare(0, prefix.size(), prefix) == 0 && origin.back() == '/' &&
         IsChromiumId(origin.substr(prefix.size(), 32));
}

void CheckOrigins(const Json::Value& manifest, const Options& options, ManifestReading& reading) {
  const Json::Value& origins = Member(manifest, "allowed_origins");
  if (!origins.isArray()) {
    Add(reading, "\"allowed_origins\" is missing or not a list",
        "list the extensions' origins there, such as \"" + Origin(kDefaultChromiumId) + "\"", Effect::kNotFound);
    return;
  }
  std::vector<std::string> allowed;
  for (const Json::Value& origin : origins) {
    const std::string text = origin.isString() ? origin.asString() : std::string();
    if (IsWellFormedOrigin(text)) {
      allowed.push_back(text);
      continue;
    }
    const bool lacksSlash = IsWellFormedOrigin(text + "/");
    Add(reading, "the allowed origin \"" + text + "\"" + (lacksSlash ? " lacks its trailing \"/\"" : " is malformed"),
        lacksSlash ? "write it as \"" + text + "/\"" : "write origins as chrome-extension://<32 letters a to p>/",
        Effect::kNotFound);
  }
  for (const std::string& id : options.m_chromiumIds) {
    if (std::find(allowed.begin(), allowed.end(), Origin(id)) != allowed.end()) continue;
    Add(reading, "the extension " + id + " is not among \"allowed_origins\"",
        "add \"" + Origin(id) + "\" to \"allowed_origins\" (or " + kReinstall + " with --extension-id " + id + ")",
        Effect::kForbidden);
  }
}

void CheckExtensions(const Json::Value& manifest, const Options& options, ManifestReading& reading) {
  const Json::Value& extensions = Member(manifest, "allowed_extensions");
  if (!extensions.isArray()) {
    Add(reading, "\"allowed_extensions\" is missing or not a list",
        std::string("list the extensions' identifiers there, such as \"") + kDefaultFirefoxId + "\"",
        Effect::kNotFound);
    return;
  }
  for (const std::string& id : options.m_firefoxIds) {
    const bool listed = std::any_of(extensions.begin(), extensions.end(),
                                    [&](const Json::Value& value) { return IsString(value, id); });
    if (listed) continue;
    std::string fix = "add \"" + id + "\" to \"allowed_extensions\" (or ";
    fix += kReinstall;
    fix += " with --extension-id " + id + ")";
    Add(reading, "the extension " + id + " is not among \"allowed_extensions\"", fix, Effect::kForbidden);
  }
}

// The members every browser checks the same way.
void CheckCommonMembers(const Json::Value& manifest, ManifestReading& reading) {
  const Json::Value& name = Member(manifest, "name");
  if (!IsString(name, kHostName)) {
    Add(reading,
        "\"name\" is " + (name.isString() ? Quoted(name.asString()) : std::string("missing")) +
            ", which does not match the file name " + kManifestFileName,
        std::string("set \"name\" to \"") + kHostName + "\"", Effect::kNotFound);
  }
  const Json::Value& description = Member(manifest, "description");
  if (!description.isString() || description.asString().empty()) {
    Add(reading, "\"description\" is missing", std::string("add \"description\": \"") + kDescription + "\"",
        Effect::kNotFound);
  }
  if (!IsString(Member(manifest, "type"), "stdio")) {
    Add(reading, "\"type\" is not \"stdio\"", "set \"type\" to \"stdio\"", Effect::kNotFound);
  }
  const Json::Value& path = Member(manifest, "path");
  if (path.isString() && !path.asString().empty()) {
    reading.m_hostPath = path.asString();
  } else {
    Add(reading, "\"path\" is missing", "set \"path\" to the host's absolute path", Effect::kNotFound);
  }
}

}  // namespace

std::string ManifestText(Family family, const Options& options) {
  std::string text = "{\n";
  text += "  \"name\": " + Quoted(kHostName) + ",\n";
  text += "  \"description\": " + Quoted(kDescription) + ",\n";
  text += "  \"path\": " + Quoted(options.m_host) + ",\n";
  text += "  \"type\": \"stdio\",\n";
  if (family == Family::kFirefox) {
    text += "  \"allowed_extensions\": " + QuotedList(options.m_firefoxIds) + "\n";
  } else {
    std::vector<std::string> origins;
    for (const std::string& id : options.m_chromiumIds) origins.push_back(Origin(id));
    text += "  \"allowed_origins\": " + QuotedList(origins) + "\n";
  }
  return text + "}\n";
}

ManifestReading ReadManifest(const Browser& browser, const std::string& text, const Options& options) {
  ManifestReading reading;
  Json::Value manifest;
  if (!ParseJson(text, manifest) || !manifest.isObject()) {
    Add(reading, "the manifest is not valid JSON (or not a JSON object)", kReinstall, Effect::kNotFound);
    return reading;
  }
  CheckCommonMembers(manifest, reading);
  if (browser.m_family == Family::kFirefox) {
    CheckExtensions(manifest, options, reading);
  } else {
    CheckOrigins(manifest, options, reading);
  }
  return reading;
}

}  // namespace vorneth::reg
