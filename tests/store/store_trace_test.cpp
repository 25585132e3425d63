// What the store operations record in the diagnostic trace. Linked with the
// recording trace library, so every trace call of this process is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "store_test_support.h"
#include "support/trace_recorder.h"

namespace vorneth::testing {
namespace {

bool HasRecord(const std::vector<TraceRecord>& records, const TraceRecord& wanted) {
  return std::any_of(records.begin(), records.end(), [&](const TraceRecord& record) {
    return record.kind == wanted.kind && record.scope == wanted.scope && record.name == wanted.name &&
           record.value == wanted.value;
  });
}

using StoreTraceTest = StoreTest;

TEST_F(StoreTraceTest, OperationsTraceTheirScopesArgumentsAndDecisions) {
  EXPECT_OK(store::SetPermissionMode(Folder(), "blacklist"));
  ClearTraceRecords();
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "https://a.example"));
  std::vector<TraceRecord> records = TraceRecords();
  EXPECT_TRUE(HasRecord(records, {"enter", "VornethDB::IsDomainBlocked", "", ""}));
  EXPECT_TRUE(HasRecord(records, {"text", "VornethDB::IsDomainBlocked", "url.c_str()", "https://a.example"}));
  EXPECT_TRUE(HasRecord(records, {"data", "VornethDB::IsBlacklistMode", "permMode.c_str()", "blacklist"}));
  EXPECT_TRUE(TraceHasMessage("permission object", "VornethDB::IsBlacklistMode"));
  EXPECT_TRUE(TraceHasMessage("IsBlacklistMode result is true", "VornethDB::IsBlacklistMode"));
  EXPECT_TRUE(TraceHasMessage("blacklist mode is true", "VornethDB::IsDomainBlocked"));
  EXPECT_TRUE(HasRecord(records, {"text", "VornethDB::ReadVornethDB", "filePath.c_str()", StorePath()}));
  EXPECT_TRUE(TraceHasMessage("GetDataDirectory result", "VornethDB::ReadVornethDB"));

  EXPECT_OK(store::SetPermissionMode(Folder(), "Blacklist"));
  ClearTraceRecords();
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), "https://a.example"));
  EXPECT_TRUE(TraceHasMessage("IsBlacklistMode result is false", "VornethDB::IsBlacklistMode"));
  EXPECT_TRUE(TraceHasMessage("blacklist mode is false", "VornethDB::IsDomainBlocked"));

  ClearTraceRecords();
  EXPECT_OK(store::SetDomainAllowed(Folder(), "https://b.example"));
  EXPECT_OK(store::RemoveFromPermList(Folder(), "https://b.example", "blacklisted"));
  EXPECT_OK(store::SetInstalled(Folder(), "U", "1.0", "https://pkg.example", "https://page.example", "Name", "D", "I"));
  records = TraceRecords();
  EXPECT_TRUE(HasRecord(records, {"text", "VornethDB::WriteVornethDB", "filePath.c_str()", StorePath()}));
  EXPECT_TRUE(HasRecord(records, {"data", "VornethDB::SetPermissionList", "list.c_str()", "whitelisted"}));
  EXPECT_TRUE(HasRecord(records, {"text", "VornethDB::SetPermissionList", "url.c_str()", "https://b.example"}));
  EXPECT_TRUE(HasRecord(records, {"data", "VornethDB::RemoveFromPermList", "list.c_str()", "blacklisted"}));
  EXPECT_TRUE(HasRecord(records, {"data", "VornethDB::UnsetPermissionList", "list.c_str()", "blacklisted"}));
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"uuid.c_str()", "U"},
                                                        {"version.c_str()", "1.0"},
                                                        {"owner.c_str()", "https://page.example"},
                                                        {"name.c_str()", "Name"}}) {
    EXPECT_TRUE(HasRecord(records, {"text", "VornethDB::SetInstalled", name, value})) << name;
  }
  // Every scope that was entered was left again.
  const auto count = [&](const char* kind) {
    return std::count_if(records.begin(), records.end(), [&](const TraceRecord& r) { return r.kind == kind; });
  };
  EXPECT_EQ(count("enter"), count("leave"));
}

}  // namespace
}  // namespace vorneth::testing
