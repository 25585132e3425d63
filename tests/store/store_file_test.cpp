// The store file itself: absent, blank, broken and hand-edited files, the
// two primitives and the exact bytes written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store_test_support.h"

namespace vorneth::testing {
namespace {

using StoreFileTest = StoreTest;

// Runs every reading operation and checks that they all see an empty store.
void ExpectReadsAsEmpty(const store::StoreFolder& folder) {
  EXPECT_FALSE(store::IsWhitelistMode(folder));
  EXPECT_FALSE(store::IsDomainBlocked(folder, kA));
  EXPECT_TRUE(store::ReadPermList(folder).isNull());
  EXPECT_TRUE(store::ReadAddOnList(folder).isNull());
  EXPECT_FALSE(store::IsInstalled(folder, "U", "1"));
  EXPECT_EQ(store::GetAddOnName(folder, "U"), "");
}

TEST_F(StoreFileTest, WithoutAFileReadsAreEmptyAndTheFirstChangeWritesOnlyItsMember) {
  EXPECT_TRUE(Folder().Read().isNull());
  ExpectReadsAsEmpty(Folder());
  EXPECT_FALSE(StoreBytes().has_value());
  EXPECT_TRUE(Scratch().Names().empty()) << "reads write nothing, not even the lock file";

  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_EQ(StoreBytes(), R"({"permission-mode":"whitelist"})");
  // Other host processes find the lock file under this exact name.
  EXPECT_TRUE(std::filesystem::is_regular_file(LockPath()));
}

TEST_F(StoreFileTest, WrittenDocumentReadsBackEqualAsCompactText) {
  const Json::Value document =
      Parse(R"({"whitelisted":["x"],"installed":[{"uuid":"u","install":[{"o":4294967295}],"version":["1"]}],)"
            R"("permission-mode":"whitelist","extra":{"b":[1,2.5,true,null],"a":"\u00e9\n"}})");
  EXPECT_OK(Folder().Write(document));
  EXPECT_EQ(StoreBytes(), Compact(document));
  EXPECT_EQ(Folder().Read(), document);
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "x"));
}

TEST_F(StoreFileTest, BlankFileBehavesAsAnEmptyStore) {
  for (const char* blank : {"", "   ", " \r\n\t "}) {
    PutStoreBytes(blank);
    ExpectReadsAsEmpty(Folder());
    EXPECT_OK(store::SetDomainDenied(Folder(), kA));
    EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example"]})") << '"' << blank << '"';
  }
  EXPECT_FALSE(std::filesystem::exists(DamagedPath())) << "a blank file holds nothing to keep";
}

TEST_F(StoreFileTest, BrokenJsonKeepsWhatWasReadBeforeTheDamageAndIsReplacedByTheNextChange) {
  PutStoreBytes(R"({"permission-mode":"whitelist","whitelisted":["https://a.example"],"blacklisted":["x", )");
  EXPECT_TRUE(store::IsWhitelistMode(Folder()));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));

  EXPECT_OK(store::SetDomainAllowed(Folder(), "https://b.example"));
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
    ExpectReadsAsEmpty(Folder());
    EXPECT_FALSE(store::SetDomainDenied(Folder(), kA).ok());
    EXPECT_FALSE(store::SetDomainAllowed(Folder(), kA).ok());
    EXPECT_FALSE(store::SetPermissionMode(Folder(), "whitelist").ok());
    EXPECT_FALSE(store::RemoveFromPermList(Folder(), kA, "blacklisted").ok());
    EXPECT_FALSE(store::SetInstalled(Folder(), "U", "1", "o", "p", "n", "d", "i").ok());
    EXPECT_FALSE(store::UnsetInstalled(Folder(), "U", "1").ok());
    EXPECT_EQ(StoreBytes(), foreign);
    EXPECT_FALSE(std::filesystem::exists(DamagedPath())) << "a whole file needs no copy";
  }
}

TEST_F(StoreFileTest, MembersOfTheWrongTypeReadAsEmptyAndOnlyTheChangedOneIsReplaced) {
  PutStoreBytes(R"({"blacklisted":7,"whitelisted":{"x":"https://a.example"},)"
                R"("installed":"garbage","other":[1]})");
  ExpectReadsAsEmpty(Folder());

  EXPECT_OK(store::SetDomainDenied(Folder(), kA));
  EXPECT_EQ(StoreBytes(), R"({"blacklisted":["https://a.example"],"installed":"garbage","other":[1],)"
                          R"("whitelisted":{"x":"https://a.example"}})");
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));

  EXPECT_OK(store::SetInstalled(Folder(), "U", "1", "o", "p", "n", "d", "i"));
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "1"));
  EXPECT_OK(store::SetPermissionMode(Folder(), "whitelist"));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));  // a whitelist that is an object lists nothing
  EXPECT_OK(store::RemoveFromPermList(Folder(), kA, "whitelisted"));
  EXPECT_EQ(Compact(Parse(*StoreBytes())["whitelisted"]), "null");
  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), kA));

  const Json::Value document = Parse(*StoreBytes());
  EXPECT_EQ(Compact(document["other"]), "[1]");
  EXPECT_EQ(Compact(document["blacklisted"]), R"(["https://a.example"])");
  EXPECT_EQ(document["installed"].size(), 1u);
}

TEST_F(StoreFileTest, ListEntriesThatAreNotTextsNeverMatchAndSurviveRemovals) {
  PutStoreBytes(R"({"blacklisted":[5,null,{"k":"https://a.example"},["https://a.example"],)"
                R"("https://a.example",true,""]})");
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), kA));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "5"));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), "true"));
  EXPECT_TRUE(store::IsDomainBlocked(Folder(), ""));
  EXPECT_OK(store::SetDomainAllowed(Folder(), kA));
  EXPECT_EQ(Compact(Parse(*StoreBytes())["blacklisted"]),
            R"([5,null,{"k":"https://a.example"},["https://a.example"],true,""])");
  EXPECT_OK(store::SetDomainAllowed(Folder(), ""));
  EXPECT_FALSE(store::IsDomainBlocked(Folder(), ""));
}

TEST_F(StoreFileTest, RecordsAndRecordMembersOfTheWrongTypeAreSkippedOrRepaired) {
  PutStoreBytes(R"({"installed":["text",5,null,{"uuid":3,"version":["1"]},)"
                R"({"uuid":"U","version":"1","origin":{},"install":7,"name":["n"]},)"
                R"({"uuid":"V","version":[1,"2"],"origin":["o1"],"install":[{}],"name":"Vee"}]})");
  EXPECT_FALSE(store::IsInstalled(Folder(), "U", "1"));
  EXPECT_FALSE(store::IsInstalled(Folder(), "V", "1"));
  EXPECT_TRUE(store::IsInstalled(Folder(), "V", "2"));
  EXPECT_EQ(store::GetAddOnName(Folder(), "U"), "");
  EXPECT_EQ(store::GetAddOnName(Folder(), "V"), "Vee");
  EXPECT_EQ(store::ReadAddOnList(Folder()).size(), 6u);

  EXPECT_OK(store::SetInstalled(Folder(), "U", "2", "o", "p", "n", "d", "i"));
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "2"));
  Json::Value list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(Compact(list[4]["version"]), R"(["2"])");
  EXPECT_EQ(Compact(list[4]["origin"]), R"(["o"])");
  EXPECT_EQ(Compact(list[4]["name"]), R"(["n"])");

  // V lists a number beside "2": removing "2" keeps the record with the
  // number and the origin and install elements at its index.
  EXPECT_OK(store::UnsetInstalled(Folder(), "V", "2"));
  list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(Compact(list[5]["version"]), "[1]");
  EXPECT_EQ(Compact(list[5]["origin"]), R"(["o1"])");
  EXPECT_EQ(Compact(list[0]), R"("text")");
  EXPECT_EQ(Compact(list[3]), R"({"uuid":3,"version":["1"]})");
}

}  // namespace
}  // namespace vorneth::testing
