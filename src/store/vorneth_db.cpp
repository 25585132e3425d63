// VornethDB's operations: each finds the store folder through the data
// directory once and hands it on. The Part's operations report nothing, so
// the Status of a change stops here; it was traced where it failed.
#include "store/vorneth_db.h"

#include "store/addon_records.h"
#include "store/domain_permissions.h"
#include "store/store_folder.h"

namespace vorneth {

using store::StoreFolder;

Json::Value VornethDB::ReadVornethDB() {
  return StoreFolder::InDataDirectory().Read();
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the signature every caller of this operation uses.
void VornethDB::WriteVornethDB(Json::Value document) {
  (void)StoreFolder::InDataDirectory().Write(document);
}

bool VornethDB::IsInstalled(const std::string& uuid, const std::string& version) {
  return store::IsInstalled(StoreFolder::InDataDirectory(), uuid, version);
}

void VornethDB::SetInstalled(const std::string& uuid, const std::string& version, const std::string& origin,
                             const std::string& owner, const std::string& name, const std::string& description,
                             const std::string& icon) {
  (void)store::SetInstalled(StoreFolder::InDataDirectory(), uuid, version, origin, owner, name, description, icon);
}

void VornethDB::UnsetInstalled(const std::string& uuid, const std::string& version) {
  (void)store::UnsetInstalled(StoreFolder::InDataDirectory(), uuid, version);
}

std::string VornethDB::GetAddOnName(const std::string& uuid) {
  return store::GetAddOnName(StoreFolder::InDataDirectory(), uuid);
}

Json::Value VornethDB::ReadAddOnList() {
  return store::ReadAddOnList(StoreFolder::InDataDirectory());
}

bool VornethDB::IsBlacklistMode(const Json::Value& document) {
  return store::IsBlacklistMode(document);
}

bool VornethDB::IsWhitelistMode() {
  return store::IsWhitelistMode(StoreFolder::InDataDirectory());
}

void VornethDB::SetPermissionMode(const std::string& mode) {
  (void)store::SetPermissionMode(StoreFolder::InDataDirectory(), mode);
}

bool VornethDB::IsDomainBlocked(const std::string& url) {
  return store::IsDomainBlocked(StoreFolder::InDataDirectory(), url);
}

void VornethDB::SetDomainDenied(const std::string& url) {
  (void)store::SetDomainDenied(StoreFolder::InDataDirectory(), url);
}

void VornethDB::SetDomainAllowed(const std::string& url) {
  (void)store::SetDomainAllowed(StoreFolder::InDataDirectory(), url);
}

void VornethDB::RemoveFromPermList(const std::string& url, const std::string& list) {
  (void)store::RemoveFromPermList(StoreFolder::InDataDirectory(), url, list);
}

Json::Value VornethDB::ReadPermList() {
  return store::ReadPermList(StoreFolder::InDataDirectory());
}

}  // namespace vorneth
