// Domain permissions: modes, the two lists and what is written to the file.
#include <gtest/gtest.h>

#include <string>

#include "store_test_support.h"

namespace vorneth::testing {
namespace {

using DomainPermissionsTest = StoreTest;

TEST_F(DomainPermissionsTest, EmptyStoreAllowsEveryOriginAndWritesNothing) {
  EXPECT_FALSE(store::IsWhitelistMode(Folder()));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), ""));
  EXPECT_TRUE(store::ReadPermList(Folder()).isNull());
  EXPECT_FALSE(StoreBytes().has_value());
}

TEST_F(DomainPermissionsTest, WhitelistModeBlocksUntilAllowed) {
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_TRUE(store::IsWhitelistMode(Folder()));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kB));

  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kB));
  EXPECT_EQ(Compact(store::ReadPermList(Folder())), "[\"https://a.example\"]");
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist","whitelisted":["https://a.example"]})");

  // Denying in whitelist mode takes the origin off the whitelist; it does
  // not go onto the blacklist.
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist","whitelisted":[]})");
}

TEST_F(DomainPermissionsTest, OnlyTheExactTextBlacklistSelectsBlacklistMode) {
  for (const char* mode : {"", "Blacklist", "BLACKLIST", "blacklist ", " blacklist", "whitelist", "black"}) {
    EXPECT_OK(store::SetPermissionMode(Folder(), mode));
    EXPECT_TRUE(store::IsWhitelistMode(Folder())) << '"' << mode << '"';
    EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA)) << '"' << mode << '"';
  }
  EXPECT_OK(store::SetPermissionMode(Folder(), "blacklist"));
  EXPECT_FALSE(store::IsWhitelistMode(Folder()));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"blacklist"})");
}

TEST_F(DomainPermissionsTest, DoubleDenyKeepsBothEntriesAndOneAllowRemovesBoth) {
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_OK(store::SetDomainDenied(Folder(), kB));
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example", "https://b.example", "https://a.example"]})");

  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kB));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://b.example"]})");

  EXPECT_OK(store::SetDomainAllowed(Folder(), kB));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":[]})");
  EXPECT_EQ(Compact(store::ReadPermList(Folder())), "[]");
}

TEST_F(DomainPermissionsTest, RemovingFromAListThatNeverExistedWritesItAsNull) {
  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));  // blacklist mode, no "blacklisted"
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":null})");
  EXPECT_TRUE(store::ReadPermList(Folder()).isNull());
  EXPECT_OK(store::RemoveFromPermList(Folder(), kA, "whitelisted"));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":null,"whitelisted":null})");
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
}

TEST_F(DomainPermissionsTest, EntriesMatchOnlyTheExactOriginText) {
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  for (const char* other : {"HTTPS://A.EXAMPLE", "https://A.example", "https://a.example:443", "https://a.example/",
                            "http://a.example", "https://sub.a.example", "https://a.example.org", "https://a.exampl"}) {
    EXPECT_FALSE(store::IsDomainBlocked(Folder(), other)) << other;
  }
  // Allowing a near miss removes nothing.
  EXPECT_OK(store::SetDomainAllowed(Folder(), "HTTPS://A.EXAMPLE"));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
}

TEST_F(DomainPermissionsTest, SwitchingModesKeepsBothLists) {
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_OK(store::SetDomainAllowed(Folder(), kB));
  EXPECT_EQ(Compact(store::ReadPermList(Folder())), "[\"https://b.example\"]");
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));

  EXPECT_OK(store::SetPermissionMode(Folder(), "blacklist"));
  EXPECT_EQ(Compact(store::ReadPermList(Folder())), "[\"https://a.example\"]");
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kB));
  EXPECT_EQ(
      StoreBytes(),
      R"({"blacklisted":["https://a.example"],"permission-mode":"blacklist","whitelisted":["https://b.example"]})");
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWorksOnEitherListWhateverTheMode) {
  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  EXPECT_OK(store::SetDomainAllowed(Folder(), kB));
  EXPECT_OK(store::SetPermissionMode(Folder(), "blacklist"));

  EXPECT_OK(store::RemoveFromPermList(Folder(), kA, "whitelisted"));
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_EQ(Compact(store::ReadPermList(Folder())), "[\"https://b.example\"]");
  EXPECT_OK(store::RemoveFromPermList(Folder(), kA, "blacklisted"));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":[],"permission-mode":"whitelist","whitelisted":["https://b.example"]})");
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWithAnyOtherListNameChangesNothing) {
  EXPECT_OK(store::SetInstalled(Folder(), "U", "1.0", kA, kB, "N", "D", "I"));
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  const std::optional<std::string> before = StoreBytes();
  ASSERT_TRUE(before.has_value());
  for (const char* list : {"installed", "permission-mode", "Whitelisted", "blacklisted ", "", "other"}) {
    EXPECT_OK(store::RemoveFromPermList(Folder(), kA, list));
    EXPECT_OK(store::RemoveFromPermList(Folder(), "U", list));
    EXPECT_EQ(StoreBytes(), before) << list;
  }
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));
}

TEST_F(DomainPermissionsTest, RemoveFromPermListWithAnotherNameCreatesNoFile) {
  EXPECT_OK(store::RemoveFromPermList(Folder(), kA, "installed"));
  EXPECT_FALSE(StoreBytes().has_value());
}

}  // namespace
}  // namespace vorneth::testing
