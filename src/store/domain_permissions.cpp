// Domain permissions: the permission mode and the two origin lists of the
// store. In blacklist mode an origin is blocked only when "blacklisted"
// lists it; in whitelist mode it is blocked unless "whitelisted" lists it.
// Entries are compared byte for byte with the origin text; the same text may
// stand more than once.
#include "json/json_conversions.h"
#include "platform/trace.h"
#include "store/store_transaction.h"
#include "store/store_values.h"
#include "store/vorneth_db.h"

namespace vorneth {
namespace {

constexpr char kBlacklisted[] = "blacklisted";
constexpr char kWhitelisted[] = "whitelisted";
constexpr char kPermissionMode[] = "permission-mode";

bool ListContains(const Json::Value& document, const std::string& list, const std::string& url) {
  for (const Json::Value& entry : store::ListMember(document, list)) {
    if (store::IsText(entry, url)) return true;
  }
  return false;
}

// Appends `url` to the list named `list` of `document`, held under a store
// transaction, without looking for an equal entry.
void SetPermissionList(Json::Value& document, const std::string& list, const std::string& url) {
  TraceFunction trace("VornethDB::SetPermissionList");
  trace.DataText("list.c_str()", list);
  trace.Text("url.c_str()", url);
  store::ListForChange(document, list).append(Json::Value(url));
}

// Removes every entry equal to `url` from the list named `list` of
// `document`, keeping the order of the others. An absent list is left as
// null, which the transaction then writes out.
void UnsetPermissionList(Json::Value& document, const std::string& list, const std::string& url) {
  TraceFunction trace("VornethDB::UnsetPermissionList");
  trace.DataText("list.c_str()", list);
  trace.Text("url.c_str()", url);
  Json::Value& member = store::ListForChange(document, list);
  if (!member.isArray()) return;
  const Json::Value entries = member;
  member = Json::Value(Json::arrayValue);
  for (const Json::Value& entry : entries) {
    if (!store::IsText(entry, url)) member.append(entry);
  }
}

}  // namespace

bool VornethDB::IsBlacklistMode(const Json::Value& document) {
  TraceFunction trace("VornethDB::IsBlacklistMode");
  const Json::Value& mode = Member(document, kPermissionMode);
  // Absent, null, or not a text at all: the default mode.
  if (!mode.isString()) return true;
  const std::string permMode = store::TextOf(mode);
  trace.DataText("permMode.c_str()", permMode);
  trace.Message("permission object");
  const bool blacklist = permMode == "blacklist";
  trace.Message(blacklist ? "IsBlacklistMode result is true" : "IsBlacklistMode result is false");
  return blacklist;
}

bool VornethDB::IsWhitelistMode() {
  TraceFunction trace("VornethDB::IsWhitelistMode");
  return !IsBlacklistMode(store::ReadStore());
}

void VornethDB::SetPermissionMode(const std::string& mode) {
  TraceFunction trace("VornethDB::SetPermissionMode");
  trace.Text("mode.c_str()", mode);
  store::ChangeStore([&](Json::Value& document) {
    document[kPermissionMode] = mode;
    return true;
  });
}

bool VornethDB::IsDomainBlocked(const std::string& url) {
  TraceFunction trace("VornethDB::IsDomainBlocked");
  trace.Text("url.c_str()", url);
  const Json::Value document = store::ReadStore();
  if (IsBlacklistMode(document)) {
    trace.Message("blacklist mode is true");
    return ListContains(document, kBlacklisted, url);
  }
  trace.Message("blacklist mode is false");
  // An empty whitelist blocks every origin.
  return !ListContains(document, kWhitelisted, url);
}

void VornethDB::SetDomainDenied(const std::string& url) {
  TraceFunction trace("VornethDB::SetDomainDenied");
  trace.Text("url.c_str()", url);
  store::ChangeStore([&](Json::Value& document) {
    if (IsBlacklistMode(document)) {
      SetPermissionList(document, kBlacklisted, url);
    } else {
      UnsetPermissionList(document, kWhitelisted, url);
    }
    return true;
  });
}

void VornethDB::SetDomainAllowed(const std::string& url) {
  TraceFunction trace("VornethDB::SetDomainAllowed");
  trace.Text("url.c_str()", url);
  store::ChangeStore([&](Json::Value& document) {
    if (IsBlacklistMode(document)) {
      UnsetPermissionList(document, kBlacklisted, url);
    } else {
      SetPermissionList(document, kWhitelisted, url);
    }
    return true;
  });
}

void VornethDB::RemoveFromPermList(const std::string& url, const std::string& list) {
  TraceFunction trace("VornethDB::RemoveFromPermList");
  trace.Text("url.c_str()", url);
  trace.DataText("list.c_str()", list);
  // The list name comes from the page: any other name would let it reach
  // "installed" or "permission-mode", so it changes nothing.
  if (list != kBlacklisted && list != kWhitelisted) return;
  store::ChangeStore([&](Json::Value& document) {
    UnsetPermissionList(document, list, url);
    return true;
  });
}

Json::Value VornethDB::ReadPermList() {
  TraceFunction trace("VornethDB::ReadPermList");
  const Json::Value document = store::ReadStore();
  return store::ListMember(document, IsBlacklistMode(document) ? kBlacklisted : kWhitelisted);
}

}  // namespace vorneth
