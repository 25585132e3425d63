// The store file "vorneth.db" in the data directory: installed add-on
// records and the domain permission list.
//
// VornethDB keeps no state and no cache: each operation reads the whole file
// and, when it changes something, writes the whole document back.
// Every read-modify-write and every read holds one process-wide mutex and an
// advisory lock on "vorneth.db.lock" beside the store, and writes replace the
// file in one step, so no update is lost and no partial file is read, across
// threads and across host processes. The bytes of the file are the compact
// JSON text of the document.
//
// No operation reports a failure: an unreadable store reads as an empty
// document, an unwritable one leaves the change unmade. A store whose lock
// file cannot be created or locked counts as unwritable (reads still go
// ahead). Text that is not valid JSON reads as whatever the JSON reader built
// before the damage, and the next change writes that back as a valid
// document. Members of an unexpected JSON type read as empty; a change
// replaces such a member with a proper value and never touches other
// members. A document whose top level is neither an object nor null (a
// foreign file) reads as empty and is left alone by every change. A change
// that leaves the file's bytes as they were writes nothing.
#ifndef VORNETH_STORE_VORNETH_DB_H_
#define VORNETH_STORE_VORNETH_DB_H_

#include <json/value.h>

#include <string>

namespace vorneth {

class VornethDB {
 public:
  // Store primitives. ReadVornethDB returns the parsed document (null
  // without a file). WriteVornethDB replaces the file with the compact text
  // of `document`, whatever it holds; the other operations do not use it, so
  // that each of their read-modify-writes happens under one lock.
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
