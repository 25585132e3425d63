// Add-on records: the "installed" array of the store, one record per add-on
// uuid, with the parallel arrays "version", "origin" and "install" holding
// one element per installation.
#include <chrono>
#include <cstdint>

#include "json/json_conversions.h"
#include "platform/trace.h"
#include "store/store_transaction.h"
#include "store/store_values.h"
#include "store/vorneth_db.h"

namespace vorneth {
namespace {

constexpr char kInstalled[] = "installed";
constexpr char kUuid[] = "uuid";
constexpr char kVersion[] = "version";
constexpr char kOrigin[] = "origin";
constexpr char kInstall[] = "install";

bool IsRecordOf(const Json::Value& record, const std::string& uuid) {
  return store::IsText(Member(record, kUuid), uuid);
}

// The installation time as stored: seconds since 1970-01-01 00:00 UTC, as an
// unsigned 32-bit number.
Json::Value InstallationTime() {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  return Json::Value(static_cast<Json::UInt>(static_cast<uint32_t>(seconds.count())));
}

}  // namespace

bool VornethDB::IsInstalled(const std::string& uuid, const std::string& version) {
  TraceFunction trace("VornethDB::IsInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);
  const Json::Value document = store::ReadStore();
  // Every record with this uuid is searched, not only the first.
  for (const Json::Value& record : store::ListMember(document, kInstalled)) {
    if (!IsRecordOf(record, uuid)) continue;
    for (const Json::Value& listed : store::ListMember(record, kVersion)) {
      if (store::IsText(listed, version)) return true;
    }
  }
  return false;
}

void VornethDB::SetInstalled(const std::string& uuid, const std::string& version, const std::string& origin,
                             const std::string& owner, const std::string& name, const std::string& description,
                             const std::string& icon) {
  TraceFunction trace("VornethDB::SetInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);
  trace.Text("owner.c_str()", owner);
  trace.Text("name.c_str()", name);

  Json::Value installation(Json::objectValue);
  installation[owner] = InstallationTime();

  store::ChangeStore([&](Json::Value& document) {
    Json::Value& records = store::ListForChange(document, kInstalled);
    for (Json::Value& record : records) {
      if (!IsRecordOf(record, uuid)) continue;
      // The first record of this uuid gains one installation; its name,
      // description and icon stay those of the first installation. No check
      // for a version already listed: the installer asks IsInstalled first.
      store::ListForChange(record, kVersion).append(Json::Value(version));
      store::ListForChange(record, kOrigin).append(Json::Value(origin));
      store::ListForChange(record, kInstall).append(installation);
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

void VornethDB::UnsetInstalled(const std::string& uuid, const std::string& version) {
  TraceFunction trace("VornethDB::UnsetInstalled");
  trace.Text("uuid.c_str()", uuid);
  trace.Text("version.c_str()", version);

  store::ChangeStore([&](Json::Value& document) {
    Json::Value& records = store::ListForChange(document, kInstalled);
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
      const Json::Value& versions = store::ListMember(record, kVersion);
      const Json::Value& origins = Member(record, kOrigin);
      const Json::Value& installs = Member(record, kInstall);
      // Each starts out null, so a list from which nothing is kept is null.
      Json::Value keptVersions;
      Json::Value keptOrigins;
      Json::Value keptInstalls;
      for (Json::ArrayIndex i = 0; i < versions.size(); ++i) {
        if (store::IsText(versions[i], version)) continue;
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

std::string VornethDB::GetAddOnName(const std::string& uuid) {
  TraceFunction trace("VornethDB::GetAddOnName");
  trace.Text("uuid.c_str()", uuid);
  const Json::Value document = store::ReadStore();
  for (const Json::Value& record : store::ListMember(document, kInstalled)) {
    if (IsRecordOf(record, uuid)) return store::TextOf(Member(record, "name"));
  }
  return std::string();
}

Json::Value VornethDB::ReadAddOnList() {
  TraceFunction trace("VornethDB::ReadAddOnList");
  const Json::Value document = store::ReadStore();
  return store::ListMember(document, kInstalled);
}

}  // namespace vorneth
