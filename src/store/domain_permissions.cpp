#include "store/domain_permissions.h"

#include "json/json_conversions.h"
#include "platform/trace.h"

namespace vorneth::store {
namespace {

constexpr char kBlacklisted[] = "blacklisted";
constexpr char kWhitelisted[] = "whitelisted";
constexpr char kPermissionMode[] = "permission-mode";
constexpr char kBlacklistMode[] = "blacklist";

bool ListContains(const Json::Value& document, const std::string& list, const std::string& url) {
  for (const Json::Value& entry : ArrayMember(document, list.c_str())) {
    if (IsString(entry, url)) return true;
  }
  return false;
}

// Appends `url` to the list named `list` of `document`, held under a store
// transaction, without looking for an equal entry.
void SetPermissionList(Json::Value& document, const std::string& list, const std::string& url) {
  TraceFunction trace("VornethDB::SetPermissionList");
  trace.DataText("list.c_str()", list);
  trace.Text("url.c_str()", url);
  ListForChange(document, list.c_str()).append(Json::Value(url));
}

// Removes every entry equal to `url` from the list named `list` of
// `document`, keeping the order of the others. An absent list is left as
// null, which the transaction then writes out.
void UnsetPermissionList(Json::Value& document, const std::string& list, const std::string& url) {
  TraceFunction trace("VornethDB::UnsetPermissionList");
  trace.DataText("list.c_str()", list);
  trace.Text("url.c_str()", url);
  Json::Value& member = ListForChange(document, list.c_str());
  if (!member.isArray()) return;
  const Json::Value entries = member;
  member = Json::Value(Json::arrayValue);
  for (const Json::Value& entry : entries) {
    if (!IsString(entry, url)) member.append(entry);
  }
}

}  // namespace

bool IsBlacklistMode(const Json::Value& document) {
  TraceFunction trace("VornethDB::IsBlacklistMode");
  const Json::Value& mode = Member(document, kPermissionMode);
  if (mode.isNull()) return true;
  // A boolean is traced as its text; a number, an array or an object has
  // none here, and whitelist mode is what a damaged mode must mean.
  std::string permMode;
  ReadText(mode, permMode);
  trace.DataText("permMode.c_str()", permMode);
  trace.Message("permission object");
  const bool blacklist = IsString(mode, kBlacklistMode);
  trace.Message(blacklist ? "IsBlacklistMode result is true" : "IsBlacklistMode result is false");
  return blacklist;
}

bool IsWhitelistMode(const StoreFolder& folder) {
  TraceFunction trace("VornethDB::IsWhitelistMode");
  return !IsBlacklistMode(folder.Read());
}

Status SetPermissionMode(const StoreFolder& folder, const std::string& mode) {
  TraceFunction trace("VornethDB::SetPermissionMode");
  trace.Text("mode.c_str()", mode);
  return folder.Change([&](Json::Value& document) {
    document[kPermissionMode] = mode;
    return true;
  });
}

bool IsDomainBlocked(const StoreFolder& folder, const std::string& url) {
  TraceFunction trace("VornethDB::IsDomainBlocked");
  trace.Text("url.c_str()", url);
  const Json::Value document = folder.Read();
  if (IsBlacklistMode(document)) {
    trace.Message("blacklist mode is true");
    return ListContains(document, kBlacklisted, url);
  }
  trace.Message("blacklist mode is false");
  // An empty whitelist blocks every origin.
  return !ListContains(document, kWhitelisted, url);
}

Status SetDomainDenied(const StoreFolder& folder, const std::string& url) {
  TraceFunction trace("VornethDB::SetDomainDenied");
  trace.Text("url.c_str()", url);
  return folder.Change([&](Json::Value& document) {
    if (IsBlacklistMode(document)) {
      SetPermissionList(document, kBlacklisted, url);
    } else {
      UnsetPermissionList(document, kWhitelisted, url);
    }
    return true;
  });
}

Status SetDomainAllowed(const StoreFolder& folder, const std::string& url) {
  TraceFunction trace("VornethDB::SetDomainAllowed");
  trace.Text("url.c_str()", url);
  return folder.Change([&](Json::Value& document) {
    if (IsBlacklistMode(document)) {
      UnsetPermissionList(document, kBlacklisted, url);
    } else {
      SetPermissionList(document, kWhitelisted, url);
    }
    return true;
  });
}

Status RemoveFromPermList(const StoreFolder& folder, const std::string& url, const std::string& list) {
  TraceFunction trace("VornethDB::RemoveFromPermList");
  trace.Text("url.c_str()", url);
  trace.DataText("list.c_str()", list);
  // The list name comes from the page: any other name would let it reach
  // "installed" or "permission-mode", so it changes nothing.
  if (list != kBlacklisted && list != kWhitelisted) return Status::Ok();
  return folder.Change([&](Json::Value& document) {
    UnsetPermissionList(document, list, url);
    return true;
  });
}

Json::Value ReadPermList(const StoreFolder& folder) {
  TraceFunction trace("VornethDB::ReadPermList");
  const Json::Value document = folder.Read();
  return ArrayMember(document, IsBlacklistMode(document) ? kBlacklisted : kWhitelisted);
}

}  // namespace vorneth::store
