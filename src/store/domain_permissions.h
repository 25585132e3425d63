// Domain permissions: the permission mode and the two origin lists of the
// store in `folder`. In blacklist mode an origin is blocked only when
// "blacklisted" lists it; in whitelist mode it is blocked unless
// "whitelisted" lists it. Entries are compared byte for byte with the origin
// text (`url`); the same text may stand more than once.
//
// Each function is one transaction of StoreFolder (store_folder.h) and may
// be called from any thread; VornethDB's operations of the same names call
// them with the data directory's folder. Changes return the store's failure
// (already traced); reads of a store that cannot be read see an empty store.
#ifndef VORNETH_STORE_DOMAIN_PERMISSIONS_H_
#define VORNETH_STORE_DOMAIN_PERMISSIONS_H_

#include <json/value.h>

#include <string>

#include "platform/status.h"
#include "store/store_folder.h"

namespace vorneth::store {

// The mode test on a document already read: blacklist mode when
// "permission-mode" is absent or null or the string "blacklist" exactly.
// Every other value is whitelist mode, so a mode that is not a text (true, a
// number, an array, an object) closes the gate rather than opening it.
bool IsBlacklistMode(const Json::Value& document);

bool IsWhitelistMode(const StoreFolder& folder);
Status SetPermissionMode(const StoreFolder& folder, const std::string& mode);
bool IsDomainBlocked(const StoreFolder& folder, const std::string& url);
Status SetDomainDenied(const StoreFolder& folder, const std::string& url);
Status SetDomainAllowed(const StoreFolder& folder, const std::string& url);
// Defined for the lists "blacklisted" and "whitelisted"; any other list
// name changes nothing and writes nothing.
Status RemoveFromPermList(const StoreFolder& folder, const std::string& url, const std::string& list);
// The list of the current mode as stored; null when it is absent.
Json::Value ReadPermList(const StoreFolder& folder);

}  // namespace vorneth::store

#endif  // VORNETH_STORE_DOMAIN_PERMISSIONS_H_
