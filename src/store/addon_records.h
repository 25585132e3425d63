// Add-on records: the "installed" array of the store in `folder`, one record
// per add-on uuid, with the parallel arrays "version", "origin" and
// "install" holding one element per installation.
//
// Each function is one transaction of StoreFolder (store_folder.h) and may
// be called from any thread; VornethDB's operations of the same names call
// them with the data directory's folder. Changes return the store's failure
// (already traced); reads of a store that cannot be read see no records.
#ifndef VORNETH_STORE_ADDON_RECORDS_H_
#define VORNETH_STORE_ADDON_RECORDS_H_

#include <json/value.h>

#include <string>

#include "platform/status.h"
#include "store/store_folder.h"

namespace vorneth::store {

// True when some record of `uuid` lists `version` (every record of that
// uuid is searched, exact texts).
bool IsInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version);

// Records one installation: the first record of `uuid` gains it, or a new
// record is appended with `name`, `description` and `icon`.
Status SetInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version,
                    const std::string& origin, const std::string& owner, const std::string& name,
                    const std::string& description, const std::string& icon);

// Removes the installations of `version` from the records of `uuid`; a
// record that listed one version or none goes entirely.
Status UnsetInstalled(const StoreFolder& folder, const std::string& uuid, const std::string& version);

// The "name" of the first record of `uuid`; empty when there is none.
std::string GetAddOnName(const StoreFolder& folder, const std::string& uuid);

// The "installed" array as stored; null when there is none.
Json::Value ReadAddOnList(const StoreFolder& folder);

}  // namespace vorneth::store

#endif  // VORNETH_STORE_ADDON_RECORDS_H_
