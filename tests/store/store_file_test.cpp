// The store file itself: absent, blank, broken and hand-edited files, the
// two primitives and the exact bytes written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/vorneth_db.h"
#include "store_test_support.h"

namespace vorneth::testing {
namespace {

constexpr char kA[] = "https://a.example";

using StoreFileTest = StoreTest;

// Runs every reading operation and checks that they all see an empty store.
void ExpectReadsAsEmpty() {
  EXPECT_FALSE(VornethDB::IsWhitelistMode());
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));
  EXPECT_TRUE(VornethDB::ReadPermList().isNull());
  EXPECT_TRUE(VornethDB::ReadAddOnList().isNull());
  EXPECT_FALSE(VornethDB::IsInstalled("U", "1"));
  EXPECT_EQ(VornethDB::GetAddOnName("U"), "");
}

TEST_F(StoreFileTest, WithoutAFileReadsAreEmptyAndTheFirstChangeWritesOnlyItsMember) {
  EXPECT_TRUE(VornethDB::ReadVornethDB().isNull());
  ExpectReadsAsEmpty();
  EXPECT_FALSE(StoreBytes().has_value());

  VornethDB::SetPermissionMode("whitelist");
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist"})");
  // Other host processes find the lock file under this exact name.
  EXPECT_TRUE(std::filesystem::is_regular_file(LockPath()));
}

TEST_F(StoreFileTest, WrittenDocumentReadsBackEqualAsCompactText) {
  const Json::Value document = Parse(
      R"({"whitelisted":["x"],"installed":[{"uuid":"u","install":[{"o":4294967295}],"version":["1"]}],)"
      R"("permission-mode":"whitelist","extra":{"b":[1,2.5,true,null],"a":"\u00e9\n"}})");
  VornethDB::WriteVornethDB(document);
  EXPECT_EQ(StoreBytes(), Compact(document));
  EXPECT_EQ(VornethDB::ReadVornethDB(), document);
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_FALSE(VornethDB::IsDomainBlocked("x"));
}

TEST_F(StoreFileTest, BlankFileBehavesAsAnEmptyStore) {
  for (const char* blank : {"", "   ", " \r\n\t "}) {
    PutStoreBytes(blank);
    ExpectReadsAsEmpty();
    VornethDB::SetDomainDenied(kA);
    EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example"]})") << '"' << blank << '"';
  }
}

TEST_F(StoreFileTest, BrokenJsonKeepsWhatWasReadBeforeTheDamageAndIsReplacedByTheNextChange) {
  PutStoreBytes(R"({"permission-mode":"whitelist","whitelisted":["https://a.example"],"blacklisted":["x", )");
  EXPECT_TRUE(VornethDB::IsWhitelistMode());
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));

  VornethDB::SetDomainAllowed("https://b.example");
  const std::optional<std::string> bytes = StoreBytes();
  ASSERT_TRUE(bytes.has_value());
  const Json::Value document = Parse(*bytes);
  EXPECT_EQ(*bytes, Compact(document));
  EXPECT_EQ(Compact(document["whitelisted"]), R"(["https://a.example", "https://b.example"])");
  EXPECT_EQ(document["permission-mode"], "whitelist");
}

TEST_F(StoreFileTest, ATopLevelValueOtherThanAnObjectReadsAsEmptyAndIsNeverOverwritten) {
  for (const char* foreign : {R"(["https://a.example"])", R"("blacklist")", "42", "true", R"([{"x":1}, )"}) {
    PutStoreBytes(foreign);
    ExpectReadsAsEmpty();
    VornethDB::SetDomainDenied(kA);
    VornethDB::SetDomainAllowed(kA);
    VornethDB::SetPermissionMode("whitelist");
    VornethDB::RemoveFromPermList(kA, "blacklisted");
    VornethDB::SetInstalled("U", "1", "o", "p", "n", "d", "i");
    VornethDB::UnsetInstalled("U", "1");
    EXPECT_EQ(StoreBytes(), foreign);
  }
}

TEST_F(StoreFileTest, MembersOfTheWrongTypeReadAsEmptyAndOnlyTheChangedOneIsReplaced) {
  PutStoreBytes(R"({"blacklisted":7,"whitelisted":{"x":"https://a.example"},)"
                R"("permission-mode":{"mode":"whitelist"},"installed":"garbage","other":[1]})");
  ExpectReadsAsEmpty();

  VornethDB::SetDomainDenied(kA);
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example"],"installed":"garbage","other":[1],)"
                          R"("permission-mode":{"mode":"whitelist"},"whitelisted":{"x":"https://a.example"}})");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));

  VornethDB::SetInstalled("U", "1", "o", "p", "n", "d", "i");
  EXPECT_TRUE(VornethDB::IsInstalled("U", "1"));
  VornethDB::SetPermissionMode("whitelist");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));  // a whitelist that is an object lists nothing
  VornethDB::RemoveFromPermList(kA, "whitelisted");
  EXPECT_EQ(Compact(Parse(*StoreBytes())["whitelisted"]), "null");
  VornethDB::SetDomainAllowed(kA);
  EXPECT_FALSE(VornethDB::IsDomainBlocked(kA));

  const Json::Value document = Parse(*StoreBytes());
  EXPECT_EQ(Compact(document["other"]), "[1]");
  EXPECT_EQ(Compact(document["blacklisted"]), R"(["https://a.example"])");
  EXPECT_EQ(document["installed"].size(), 1u);
}

TEST_F(StoreFileTest, AModeThatIsNotATextIsBlacklistMode) {
  for (const char* mode : {"true", "1", "[\"whitelist\"]", "{}"}) {
    PutStoreBytes(std::string(R"({"permission-mode":)") + mode + "}");
    EXPECT_FALSE(VornethDB::IsWhitelistMode()) << mode;
    EXPECT_FALSE(VornethDB::IsDomainBlocked(kA)) << mode;
  }
}

TEST_F(StoreFileTest, ListEntriesThatAreNotTextsNeverMatchAndSurviveRemovals) {
  PutStoreBytes(R"({"blacklisted":[5,null,{"k":"https://a.example"},["https://a.example"],)"
                R"("https://a.example",true,""]})");
  EXPECT_TRUE(VornethDB::IsDomainBlocked(kA));
  EXPECT_FALSE(VornethDB::IsDomainBlocked("5"));
  EXPECT_FALSE(VornethDB::IsDomainBlocked("true"));
  EXPECT_TRUE(VornethDB::IsDomainBlocked(""));
  VornethDB::SetDomainAllowed(kA);
  EXPECT_EQ(Compact(Parse(*StoreBytes())["blacklisted"]), R"([5,null,{"k":"https://a.example"},["https://a.example"],true,""])");
  VornethDB::SetDomainAllowed("");
  EXPECT_FALSE(VornethDB::IsDomainBlocked(""));
}

TEST_F(StoreFileTest, RecordsAndRecordMembersOfTheWrongTypeAreSkippedOrRepaired) {
  PutStoreBytes(R"({"installed":["text",5,null,{"uuid":3,"version":["1"]},)"
                R"({"uuid":"U","version":"1","origin":{},"install":7,"name":["n"]},)"
                R"({"uuid":"V","version":[1,"2"],"origin":["o1"],"install":[{}],"name":"Vee"}]})");
  EXPECT_FALSE(VornethDB::IsInstalled("U", "1"));
  EXPECT_FALSE(VornethDB::IsInstalled("V", "1"));
  EXPECT_TRUE(VornethDB::IsInstalled("V", "2"));
  EXPECT_EQ(VornethDB::GetAddOnName("U"), "");
  EXPECT_EQ(VornethDB::GetAddOnName("V"), "Vee");
  EXPECT_EQ(VornethDB::ReadAddOnList().size(), 6u);

  VornethDB::SetInstalled("U", "2", "o", "p", "n", "d", "i");
  EXPECT_TRUE(VornethDB::IsInstalled("U", "2"));
  Json::Value list = VornethDB::ReadAddOnList();
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(Compact(list[4]["version"]), R"(["2"])");
  EXPECT_EQ(Compact(list[4]["origin"]), R"(["o"])");
  EXPECT_EQ(Compact(list[4]["name"]), R"(["n"])");

  // V lists a number beside "2": removing "2" keeps the record with the
  // number and the origin and install elements at its index.
  VornethDB::UnsetInstalled("V", "2");
  list = VornethDB::ReadAddOnList();
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(Compact(list[5]["version"]), "[1]");
  EXPECT_EQ(Compact(list[5]["origin"]), R"(["o1"])");
  EXPECT_EQ(Compact(list[0]), R"("text")");
  EXPECT_EQ(Compact(list[3]), R"({"uuid":3,"version":["1"]})");
}

}  // namespace
}  // namespace vorneth::testing
