// Domain permissions: modes, the two lists and what is written to the file.
#include <gtest/gtest.h>

#include <string>

#include "store/vorneth_db.h"
#include "store_test_support.h"

namespace vorneth::testing {
namespace {

constexpr char kA[] = "https://a.example";
constexpr char kB[] = "https://b.example";

using DomainPermissionsTest = StoreTest;

TEST_F(DomainPermissionsTest, EmptyStoreAllowsEveryOriginAndWritesNothing) {
  EXPECT_FALSE(VornethDB::IsWhitelistMode());
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
  EXPECT_FALSE(VornethDB::IsDomainBlocked(""));
  EXPECT_TRUE(VornethDB::ReadPermList().isNull());
  EXPECT_FALSE(StoreBytes().has_value());
}

TEST_F(DomainPermissionsTest, WhitelistModeBlocksUntilAllowed) {
  VornethDB::SetPermissionMode("whitelist");
  EXPECT_TRUE(VornethDB::IsWhitelistMode());
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kB));

  VornethDB::SetDomainAllowed(kA);
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kB));
  EXPECT_EQ(Compact(VornethDB::ReadPermList()), "[\"https://a.example\"]");
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist","whitelisted":["https://a.example"]})");

  // Denying in whitelist mode takes the origin off the whitelist; it does
  // not go onto the blacklist.
  VornethDB::SetDomainDenied(kA);
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist","whitelisted":[]})");
}

TEST_F(DomainPermissionsTest, OnlyTheExactTextBlacklistSelectsBlacklistMode) {
  for (const char* mode : {"", "Blacklist", "BLACKLIST", "blacklist ", " blacklist", "whitelist", "black"}) {
    VornethDB::SetPermissionMode(mode);
    EXPECT_TRUE(VornethDB::IsWhitelistMode()) << '"' << mode << '"';
    EXPECT_TRUE(VornethDB::IsDomainBlocked(kA)) << '"' << mode << '"';
  }
  VornethDB::SetPermissionMode("blacklist");
  EXPECT_FALSE(VornethDB::IsWhitelistMode());
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"blacklist"})");
}

TEST_F(DomainPermissionsTest, DoubleDenyKeepsBothEntriesAndOneAllowRemovesBoth) {
  VornethDB::SetDomainDenied(kA);
  VornethDB::SetDomainDenied(kB);
  VornethDB::SetDomainDenied(kA);
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example", "https://a.example"]})");

  VornethDB::SetDomainAllowed(kA);
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kB));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://b.example"]})");

  VornethDB::SetDomainAllowed(kB);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":[]})");
  EXPECT_EQ(Compact(VornethDB::ReadPermList()), "[]");
}

TEST_F(DomainPermissionsTest, RemovingFromAListThatNeverExistedWritesItAsNull) {
  VornethDB::SetDomainAllowed(kA);  // blacklist mode, no "blacklisted"
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":null})");
  EXPECT_TRUE(VornethDB::ReadPermList().isNull());
  VornethDB::RemoveFromPermList(kA, "whitelisted");
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":null,"whitelisted":null})");
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
}

TEST_F(DomainPermissionsTest, EntriesMatchOnlyTheExactOriginText) {
  VornethDB::SetDomainDenied(kA);
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  for (const char* other : {"HTTPS://A.EXAMPLE", "https://A.example", "https://a.example:443", "https://a.example/",
                            "http://a.example", "https://sub.a.example", "https://a.example.org", "https://a.exampl"}) {
    EXPECT_FALSE(VornethDB::IsDomainBlocked(other)) << other;
  }
  // Allowing a near miss removes nothing.
  VornethDB::SetDomainAllowed("HTTPS://A.EXAMPLE");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
}

TEST_F(DomainPermissionsTest, SwitchingModesKeepsBothLists) {
  VornethDB::SetDomainDenied(kA);
  VornethDB::SetPermissionMode("whitelist");
  VornethDB::SetDomainAllowed(kB);
  EXPECT_EQ(Compact(VornethDB::ReadPermList()), "[\"https://b.example\"]");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));

  VornethDB::SetPermissionMode("blacklist");
  EXPECT_EQ(Compact(VornethDB::ReadPermList()), "[\"https://a.example\"]");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kB));
  EXPECT_EQ(StoreBytes(),
            R"({"blacklisted":["https://a.example"],"permission-mode":"blacklist","whitelisted":["https://b.example"]})");
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWorksOnEitherListWhateverTheMode) {
  VornethDB::SetDomainDenied(kA);
  VornethDB::SetPermissionMode("whitelist");
  VornethDB::SetDomainAllowed(kA);
  VornethDB::SetDomainAllowed(kB);
  VornethDB::SetPermissionMode("blacklist");

  VornethDB::RemoveFromPermList(kA, "whitelisted");
  VornethDB::SetPermissionMode("whitelist");
  EXPECT_EQ(Compact(VornethDB::ReadPermList()), "[\"https://b.example\"]");
  VornethDB::RemoveFromPermList(kA, "blacklisted");
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":[],"permission-mode":"whitelist","whitelisted":["https://b.example"]})");
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWithAnyOtherListNameChangesNothing) {
  VornethDB::SetInstalled("U", "1.0", kA, kB, "N", "D", "I");
  VornethDB::SetPermissionMode("whitelist");
  VornethDB::SetDomainAllowed(kA);
  const std::optional<std::string> before = StoreBytes();
  ASSERT_TRUE(before.has_value());
  for (const char* list : {"installed", "permission-mode", "Whitelisted", "blacklisted ", "", "other"}) {
    VornethDB::RemoveFromPermList(kA, list);
    VornethDB::RemoveFromPermList("U", list);
    EXPECT_EQ(StoreBytes(), before) << list;
  }
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWithAnotherNameCreatesNoFile) {
  VornethDB::RemoveFromPermList(kA, "installed");
  EXPECT_FALSE(StoreBytes().has_value());
}

}  // namespace
}  // namespace vorneth::testing
