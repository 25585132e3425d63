// What the store operations record in the diagnostic trace. Linked with the
// recording trace library, so every trace call of this process is kept.
#include <gtest/gtest.h>
#include <limits.h>

#include <algorithm>
#include <filesystem>
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

bool HasName(const std::vector<TraceRecord>& records, const std::string& scope, const std::string& name) {
  return std::any_of(records.begin(), records.end(),
                     [&](const TraceRecord& record) { return record.scope == scope && record.name == name; });
}

// `base` followed by as many folders as make a path of exactly `length`
// bytes, none longer than a file name may be.
std::string LongFolder(std::string base, size_t length) {
  while (length - base.size() > 201) base += "/" + std::string(200, 'd');
  return base + "/" + std::string(length - base.size() - 1, 'e');
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

TEST_F(StoreTraceTest, EveryFailureIsTracedWithItsReason) {
  // A store that cannot be read: the read and the refused change say why.
  std::filesystem::create_directory(StorePath());
  ClearTraceRecords();
  EXPECT_FALSE(store::SetDomainDenied(Folder(), "https://a.example").ok());
  EXPECT_TRUE(TraceHasMessage("VornethDB - ERROR - store operation failed", "VornethDB::ReadVornethDB"));
  EXPECT_TRUE(TraceHasMessage("VornethDB - ERROR - store operation failed", "VornethDB::ChangeStore"));
  EXPECT_TRUE(HasName(TraceRecords(), "VornethDB::ChangeStore", "why"));
  std::filesystem::remove(StorePath());

  // A lock that cannot be taken: a folder where the lock file goes.
  std::filesystem::remove(LockPath());
  ASSERT_TRUE(std::filesystem::create_directory(LockPath()));
  ClearTraceRecords();
  EXPECT_FALSE(store::SetDomainDenied(Folder(), "https://a.example").ok());
  EXPECT_TRUE(HasName(TraceRecords(), "FileLock::FileLock", "why"));
  EXPECT_TRUE(HasName(TraceRecords(), "VornethDB::ChangeStore", "why"));
  std::filesystem::remove(LockPath());

  // A write that fails: in a folder whose path is so long that the store
  // and its lock still fit the system's path limit but the temporary file
  // "vorneth.db.XXXXXX.tmp" does not.
  const std::string deep = LongFolder(Scratch().path(), PATH_MAX - 20);
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  const store::StoreFolder folder(deep);
  ClearTraceRecords();
  const Status status = store::SetDomainDenied(folder, "https://a.example");
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.why().find("temporary"), std::string::npos) << status.why();
  EXPECT_TRUE(TraceHasMessage("VornethDB - ERROR - store operation failed", "VornethDB::WriteVornethDB"));
  EXPECT_TRUE(HasName(TraceRecords(), "VornethDB::WriteVornethDB", "why"));
  EXPECT_TRUE(HasName(TraceRecords(), "FileReaderWriter::WriteFileAtomically", "why"));
  EXPECT_FALSE(std::filesystem::exists(deep + "/vorneth.db"));
}

}  // namespace
}  // namespace vorneth::testing
