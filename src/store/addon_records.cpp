// Add-on records: the "installed" array of the store, one record per add-on
// uuid, with the parallel arrays "version", "origin" and "install" holding
// one element per installation.
#include "store/addon_records.h"

#include <chrono>
#include <cstdint>

#include "json/json_conversions.h"
#include "platform/trace.h"

namespace vorneth::store {
namespace {

constexpr char kInstalled[] = "installed";
constexpr char kUuid[] = "uuid";
constexpr char kVersion[] = "version";
constexpr char kOrigin[] = "origin";
constexpr char kInstall[] = "install";

bool IsRecordOf(const Json::Value& record, const std::string& uuid) {
  return IsString(Member(record, kUuid), uuid);
}

// The installation time as stored: seconds since 1970-01-01 00:00 UTC, as an
// unsigned 32-bit number.
Json::Value InstallationTime() {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  return Json::Value(static_cast<Json::UInt>(static_cast<uint32_t>(seconds.count())));
}

}  // namespace

bool IsInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version) {
  TraceFunction trace("VornethDB::IsInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);
  const Json::Value document = folder.Read();
  // Every record with this uuid is searched, not only the first.
  for (const Json::Value& record : ArrayMember(document, kInstalled)) {
    if (!IsRecordOf(record, uuid)) continue;
    for (const Json::Value& listed : ArrayMember(record, kVersion)) {
      if (IsString(listed, version)) return true;
    }
  }
  return false;
}

Status SetInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version,
                    const std::string& origin, const std::string& owner, const std::string& name,
                    const std::string& description, const std::string& icon) {
  TraceFunction trace("VornethDB::SetInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);
  trace.Text("owner.c_str()", owner);
  trace.Text("name.c_str()", name);

  Json::Value installation(Json::objectValue);
  installation[owner] = InstallationTime();

  return folder.Change([&](Json::Value& document) {
    Json::Value& records = ListForChange(document, kInstalled);
    for (Json::Value& record : records) {
      if (!IsRecordOf(record, uuid)) continue;
      // The first record of this uuid gains one installation; its name,
      // description and icon stay those of the first installation. No check
      // for a version already listed: the installer asks IsInstalled first.
      ListForChange(record, kVersion).append(Json::Value(version));
      ListForChange(record, kOrigin).append(Json::Value(origin));
      ListForChange(record, kInstall).append(installation);
      return true;
    }
    Json::Value record(Json::objectValue);
    record[kUuid] = uuid;
    record[kVersion].append(Json::Value(version));
    record[kOrigin].append(Json::Value(origin));
    record[kInstall].append(installation);
    record["name"] = name;
    record["description"] = description;
    record["icon"] = icon;
    records.append(std::move(record));
    return true;
  });
}

Status UnsetInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version) {
  TraceFunction trace("VornethDB::UnsetInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);

  return folder.Change([&](Json::Value& document) {
    Json::Value& records = ListForChange(document, kInstalled);
    // No list: written back as "installed": null, as every change that
    // looks a list up does.
    if (!records.isArray()) return true;
    const Json::Value previous = records;
    records = Json::Value(Json::arrayValue);
    for (const Json::Value& record : previous) {
      if (!IsRecordOf(record, uuid)) {
        records.append(record);
        continue;
      }
      const Json::Value& versions = ArrayMember(record, kVersion);
      const Json::Value& origins = Member(record, kOrigin);
      const Json::Value& installs = Member(record, kInstall);
      // Each starts out null, so a list from which nothing is kept is null.
      Json::Value keptVersions;
      Json::Value keptOrigins;
      Json::Value keptInstalls;
      for (Json::ArrayIndex i = 0; i < versions.size(); ++i) {
        if (IsString(versions[i], version)) continue;
        keptVersions.append(versions[i]);
        keptOrigins.append(Element(origins, i));
        keptInstalls.append(Element(installs, i));
      }
      // A record that listed one version or none goes entirely: the caller
      // only removes versions it found installed, so that one version was
      // the one removed.
      if (versions.size() <= 1) continue;
      Json::Value kept = record;
      kept[kVersion] = std::move(keptVersions);
      kept[kInstall] = std::move(keptInstalls);
      kept[kOrigin] = std::move(keptOrigins);
      records.append(std::move(kept));
    }
    return true;
  });
}

std::string GetAddOnName(const StoreFolder& folder, const std::string& uuid) {
  TraceFunction trace("VornethDB::GetAddOnName");
  trace.Text("uuid.c_str()", uuid);
  const Json::Value document = folder.Read();
  for (const Json::Value& record : ArrayMember(document, kInstalled)) {
    if (!IsRecordOf(record, uuid)) continue;
    std::string name;
    ReadText(Member(record, "name"), name);  // a name that is no text reads as none
    return name;
  }
  return std::string();
}

Json::Value ReadAddOnList(const StoreFolder& folder) {
  TraceFunction trace("VornethDB::ReadAddOnList");
  const Json::Value document = folder.Read();
  return ArrayMember(document, kInstalled);
}

}  // namespace vorneth::store
