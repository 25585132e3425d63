// Add-on records: creation, extension and removal of installations.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "store_test_support.h"

namespace vorneth::testing {
namespace {

constexpr char kUuid[] = "6f1c2d3e-0000-4000-8000-00000000000a";
constexpr char kPackageA[] = "https://packages.example";
constexpr char kPackageB[] = "https://mirror.example:8443";
constexpr char kPageA[] = "https://page-a.example";
constexpr char kPageB[] = "https://page-b.example";

uint32_t Now() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

class AddOnRecordsTest : public StoreTest {
 protected:
  void InstallA() {
    EXPECT_OK(store::SetInstalled(Folder(), kUuid, "1.0", kPackageA, kPageA, "Name A", "Desc A", "icon-a"));
  }
  void InstallB() {
    EXPECT_OK(store::SetInstalled(Folder(), kUuid, "2.0", kPackageB, kPageB, "Name B", "Desc B", "icon-b"));
  }
};

TEST_F(AddOnRecordsTest, FirstInstallationCreatesOneRecordWithOneElementArrays) {
  const uint32_t before = Now();
  InstallA();
  const uint32_t after = Now();

  const Json::Value list = store::ReadAddOnList(Folder());
  ASSERT_TRUE(list.isArray());
  ASSERT_EQ(list.size(), 1u);
  const Json::Value& time = list[0]["install"][0][kPageA];
  ASSERT_TRUE(time.isIntegral());
  EXPECT_GE(time.asLargestUInt(), before);
  EXPECT_LE(time.asLargestUInt(), after);
  const std::string t = std::to_string(time.asLargestUInt());
  EXPECT_EQ(StoreBytes(),
            R"({"installed":[{"description":"Desc A","icon":"icon-a","install":[{"https://page-a.example":)" + t +
                R"(}],"name":"Name A","origin":["https://packages.example"],"uuid":")" + kUuid +
                R"(","version":["1.0"]}]})");
  EXPECT_TRUE(store::IsInstalled(Folder(), kUuid, "1.0"));
  EXPECT_EQ(store::GetAddOnName(Folder(), kUuid), "Name A");
}

TEST_F(AddOnRecordsTest, SecondVersionExtendsTheRecordAndKeepsItsDisplayMembers) {
  InstallA();
  InstallB();
  EXPECT_OK(store::SetInstalled(Folder(), "other", "3.0", kPackageA, kPageA, "Other", "", ""));

  const Json::Value list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 2u);
  const Json::Value& record = list[0];
  EXPECT_EQ(Compact(record["version"]), R"(["1.0", "2.0"])");
  EXPECT_EQ(Compact(record["origin"]), R"(["https://packages.example", "https://mirror.example:8443"])");
  ASSERT_EQ(record["install"].size(), 2u);
  EXPECT_EQ(record["install"][0].getMemberNames(), std::vector<std::string>{kPageA});
  EXPECT_EQ(record["install"][1].getMemberNames(), std::vector<std::string>{kPageB});
  EXPECT_EQ(record["name"].asString(), "Name A");
  EXPECT_EQ(record["description"].asString(), "Desc A");
  EXPECT_EQ(record["icon"].asString(), "icon-a");

  EXPECT_TRUE(store::IsInstalled(Folder(), kUuid, "1.0"));
  EXPECT_TRUE(store::IsInstalled(Folder(), kUuid, "2.0"));
  EXPECT_FALSE(store::IsInstalled(Folder(), kUuid, "3.0"));   // listed under another uuid
  EXPECT_FALSE(store::IsInstalled(Folder(), kUuid, "1.0 "));  // exact comparison
  EXPECT_FALSE(store::IsInstalled(Folder(), "6F1C2D3E-0000-4000-8000-00000000000A", "1.0"));
  EXPECT_EQ(store::GetAddOnName(Folder(), "unknown"), "");
}

TEST_F(AddOnRecordsTest, RemovingAThenBDropsTheMatchingElementsThenTheRecord) {
  EXPECT_OK(store::SetInstalled(Folder(), "first", "0.1", kPackageA, kPageA, "First", "", ""));
  InstallA();
  InstallB();
  EXPECT_OK(store::SetInstalled(Folder(), "last", "0.1", kPackageA, kPageA, "Last", "", ""));

  EXPECT_OK(store::UnsetInstalled(Folder(), kUuid, "1.0"));
  Json::Value list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(Compact(list[1]["version"]), R"(["2.0"])");
  EXPECT_EQ(Compact(list[1]["origin"]), R"(["https://mirror.example:8443"])");
  ASSERT_EQ(list[1]["install"].size(), 1u);
  EXPECT_TRUE(list[1]["install"][0].isMember(kPageB));
  EXPECT_FALSE(store::IsInstalled(Folder(), kUuid, "1.0"));
  EXPECT_TRUE(store::IsInstalled(Folder(), kUuid, "2.0"));

  EXPECT_OK(store::UnsetInstalled(Folder(), kUuid, "2.0"));
  list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["uuid"].asString(), "first");
  EXPECT_EQ(list[1]["uuid"].asString(), "last");
  EXPECT_EQ(store::GetAddOnName(Folder(), kUuid), "");

  EXPECT_OK(store::UnsetInstalled(Folder(), "first", "0.1"));
  EXPECT_OK(store::UnsetInstalled(Folder(), "last", "0.1"));
  EXPECT_EQ(StoreBytes(), R"({"installed":[]})");
}

TEST_F(AddOnRecordsTest, RemovingATwiceListedVersionKeepsTheRecordWithNullArrays) {
  InstallA();
  InstallA();
  EXPECT_EQ(Compact(store::ReadAddOnList(Folder())[0]["version"]), R"(["1.0", "1.0"])");

  EXPECT_OK(store::UnsetInstalled(Folder(), kUuid, "1.0"));
  const Json::Value record = store::ReadAddOnList(Folder())[0];
  EXPECT_EQ(Compact(record), R"({"description":"Desc A","icon":"icon-a","install":null,"name":"Name A",)"
                             R"("origin":null,"uuid":")" +
                                 std::string(kUuid) + R"(","version":null})");
  EXPECT_FALSE(store::IsInstalled(Folder(), kUuid, "1.0"));
  EXPECT_EQ(store::GetAddOnName(Folder(), kUuid), "Name A");

  // The null arrays grow again on the next installation.
  InstallB();
  EXPECT_EQ(Compact(store::ReadAddOnList(Folder())[0]["version"]), R"(["2.0"])");
  EXPECT_EQ(store::ReadAddOnList(Folder()).size(), 1u);
}

TEST_F(AddOnRecordsTest, UnsetForAnUnknownUuidKeepsTheRecords) {
  EXPECT_OK(store::UnsetInstalled(Folder(), kUuid, "1.0"));
  EXPECT_EQ(StoreBytes(), R"({"installed":null})");
  EXPECT_TRUE(store::ReadAddOnList(Folder()).isNull());

  InstallA();
  InstallB();
  const std::optional<std::string> before = StoreBytes();
  EXPECT_OK(store::UnsetInstalled(Folder(), "unknown", "1.0"));
  EXPECT_EQ(StoreBytes(), before);
}

TEST_F(AddOnRecordsTest, ASingleVersionRecordGoesWhicheverVersionIsRemoved) {
  // The installer removes only versions it found installed, so a record
  // with one version loses exactly that one and disappears with it.
  InstallA();
  EXPECT_OK(store::UnsetInstalled(Folder(), kUuid, "9.9"));
  EXPECT_EQ(StoreBytes(), R"({"installed":[]})");
}

TEST_F(AddOnRecordsTest, HandEditedRecordsOfOneUuidAreAllSearchedButOnlyTheFirstExtended) {
  PutStoreBytes(R"({"installed":[{"uuid":"U","name":"One","version":["1"],"origin":["o"],"install":[{}]},)"
                R"({"uuid":"U","name":"Two","version":["2"],"origin":["o"],"install":[{}]}]})");
  EXPECT_TRUE(store::IsInstalled(Folder(), "U", "2"));
  EXPECT_EQ(store::GetAddOnName(Folder(), "U"), "One");
  EXPECT_OK(store::SetInstalled(Folder(), "U", "3", kPackageA, kPageA, "Three", "", ""));
  const Json::Value list = store::ReadAddOnList(Folder());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Compact(list[0]["version"]), R"(["1", "3"])");
  EXPECT_EQ(Compact(list[1]["version"]), R"(["2"])");
}

}  // namespace
}  // namespace vorneth::testing
