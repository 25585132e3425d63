// The store file "vorneth.db" in the data directory: installed add-on
// records and the domain permission list.
//
// VornethDB keeps no state and no cache: each operation looks the data
// directory up once (GetDataDirectory) and hands that folder to the store
// operation of the same name (store_folder.h, addon_records.h,
// domain_permissions.h), which reads the whole file and, when it changes
// something, writes the whole document back, under the store's locks, so no
// update is lost and no partial file is read, across threads and across host
// processes. Any thread may call any operation.
//
// No operation reports a failure to its caller: without a data directory,
// or with a store that cannot be read, reads see an empty document and
// changes are not made; each failure is traced where it happens. What a
// damaged, foreign or odd store file reads as and what a change does with it
// is stated in store_folder.h: nothing a user had is overwritten without a
// copy. Members of an unexpected JSON type read as empty; a change replaces
// such a member with a proper value and never touches other members.
#ifndef VORNETH_STORE_VORNETH_DB_H_
#define VORNETH_STORE_VORNETH_DB_H_

#include <json/value.h>

#include <string>

namespace vorneth {

class VornethDB {
 public:
  // Store primitives. ReadVornethDB returns the parsed document (null
  // without a file). WriteVornethDB replaces the file with the compact text
  // of `document`, whatever the file held, except a store that cannot be
  // read (StoreFolder::Write); the other operations do not use it, so that
  // each of their read-modify-writes happens under one lock.
  static Json::Value ReadVornethDB();
  static void WriteVornethDB(Json::Value document);

  // Add-on records.
  static bool IsInstalled(const std::string& uuid, const std::string& version);
  static void SetInstalled(const std::string& uuid, const std::string& version, const std::string& origin,
                           const std::string& owner, const std::string& name, const std::string& description,
                           const std::string& icon);
  static void UnsetInstalled(const std::string& uuid, const std::string& version);
  static std::string GetAddOnName(const std::string& uuid);
  static Json::Value ReadAddOnList();

  // Domain permissions. `url` is an origin text.
  static bool IsBlacklistMode(const Json::Value& document);
  static bool IsWhitelistMode();
  static void SetPermissionMode(const std::string& mode);
  static bool IsDomainBlocked(const std::string& url);
  static void SetDomainDenied(const std::string& url);
  static void SetDomainAllowed(const std::string& url);
  // Defined for the lists "blacklisted" and "whitelisted"; any other list
  // name changes nothing.
  static void RemoveFromPermList(const std::string& url, const std::string& list);
  static Json::Value ReadPermList();
};

}  // namespace vorneth

#endif  // VORNETH_STORE_VORNETH_DB_H_
