// Installing, checking and removing add-on packages through the built host,
// from "file" URLs: packages made by vorneth-pack, tampered packages, and
// signed packages whose inner archives are hostile.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "addons/zip_archive.h"
#include "common/child_process.h"
#include "host_process.h"
#include "install_fixture.h"
#include "json/json_conversions.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"
#include "support/zip_builder.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using InstallTest = InstallFixture;

const Files kClockFiles = {
    {"addon.so",
     "\x7f"
     "ELF library\0bytes"s},
    {"data/config.json", R"({"ticks":60})"},
    {"data/deep/table.bin", "\0\1\2\3\xff"s},
    {"readme.txt", "Shows the time.\n"},
};

TEST_F(InstallTest, InstallsRecordsAndUnpacksASignedPackage) {
  WriteBytes(m_root / "icon.png", kIcon);
  PackFolder("clock.pkg", "{c10c}", "1.0", kClockFiles,
             {"--name", "Clock", "--description", "Shows the time", "--icon", m_root / "icon.png"});
  const std::string descriptor =
      R"({"extra":[1],"packageURL":"clock.pkg","packageUUID":"{c10c}","packageVersion":"1.0"})";
  const std::vector<Json::Value> frames = Install(BaseUrl(), "[" + descriptor + "]", "1");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0]["rtype"], "Vorneth-E");
  EXPECT_EQ(frames[0]["event"], "AddOnInstallFinishEvent");
  EXPECT_EQ(Parse(frames[0]["response"].asString()), Parse("[200, " + descriptor + "]"));
  EXPECT_EQ(frames[1], Parse(R"({"callbackId":"1","instanceId":0,"portId":"p","response":[200],"rtype":"Vorneth"})"));

  const Json::Value records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Json::Value& record = records[0];
  EXPECT_EQ(record.getMemberNames(),
            (std::vector<std::string>{"description", "icon", "install", "name", "origin", "uuid", "version"}));
  EXPECT_EQ(record["uuid"], "{c10c}");
  EXPECT_EQ(record["version"], Parse(R"(["1.0"])"));
  EXPECT_EQ(record["origin"], Parse(std::string("[\"") + kFileOrigin + "\"]"));
  EXPECT_EQ(record["name"], "Clock");
  EXPECT_EQ(record["description"], "Shows the time");
  EXPECT_EQ(record["icon"], kIconBase64);
  ASSERT_EQ(record["install"].size(), 1u);
  EXPECT_EQ(record["install"][0].getMemberNames(), std::vector<std::string>{kPageOrigin});
  EXPECT_GT(record["install"][0][kPageOrigin].asInt64(), 1700000000);

  const std::string folder = AddOnFolder("{c10c}", "1.0");
  std::set<std::string> expected = {folder + "/signature.json", folder + "/data", folder + "/data/deep"};
  for (const auto& [name, content] : kClockFiles) {
    expected.insert(folder + "/" + name);
    EXPECT_EQ(ReadBytes(folder + "/" + name), content) << name;
  }
  EXPECT_EQ(Entries(folder), expected);

  // The files pass their check; the package has no library to load.
  ClearTrace();
  EXPECT_EQ(CreateInstanceError("{c10c}", "1.0"), -6);
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced(kLibraryLoadFailed));
    EXPECT_FALSE(HostTraced(kCheckFailed));
  }
  // A changed file, then a removed one, fail the check.
  WriteBytes(folder + "/data/config.json", R"({"ticks":61})");
  ClearTrace();
  EXPECT_EQ(CreateInstanceError("{c10c}", "1.0"), -4);
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced(kCheckFailed));
  }
  WriteBytes(folder + "/data/config.json", kClockFiles.at("data/config.json"));
  fs::remove(folder + "/readme.txt");
  ClearTrace();
  EXPECT_EQ(CreateInstanceError("{c10c}", "1.0"), -4);
  if (TracesAreRecorded()) {
    EXPECT_TRUE(HostTraced(kCheckFailed));
    EXPECT_FALSE(HostTraced(kLibraryLoadFailed));
  }
}

TEST_F(InstallTest, UnsignedManifestVersionTakesItsIconFromThePackage) {
  WriteBytes(m_root / "icon.png", kIcon);
  PackFolder("v1.pkg", "{v1}", "1.0", kClockFiles, {"--manifest-version", "1", "--icon", m_root / "icon.png"});
  PackFolder("v1-plain.pkg", "{v1-plain}", "1.0", kClockFiles, {"--manifest-version", "1"});
  const std::vector<Json::Value> frames = Install(
      BaseUrl(),
      "[" + Descriptor("{v1}", "1.0", "v1.pkg") + ", " + Descriptor("{v1-plain}", "1.0", "v1-plain.pkg") + "]", "1");
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[2]["response"], Parse("[200]"));
  const Json::Value records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["icon"], kIconBase64);
  EXPECT_EQ(records[1]["icon"], "");
  EXPECT_EQ(ReadBytes(AddOnFolder("{v1-plain}", "1.0") + "/addon.so"), kClockFiles.at("addon.so"));
}

// The first package installs, the second is installed already, the third
// is missing: two events, then the error answer, and nothing more.
TEST_F(InstallTest, AListStopsAtTheFirstFailure) {
  PackFolder("a.pkg", "{a}", "1.0", kClockFiles);
  PackFolder("b.pkg", "{b}", "2.0", kClockFiles);
  ASSERT_EQ(Install(BaseUrl(), "[" + Descriptor("{b}", "2.0", "b.pkg") + "]", "0").size(), 2u);
  const std::string first = Descriptor("{a}", "1.0", "a.pkg");
  const std::string second = Descriptor("{b}", "2.0", "b.pkg");
  const std::string third = Descriptor("{c}", "1.0", "c.pkg");
  const std::vector<Json::Value> frames = Install(BaseUrl(), "[" + first + ", " + second + ", " + third + "]", "1");
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(Parse(frames[0]["response"].asString()), Parse("[200, " + first + "]"));
  EXPECT_EQ(Parse(frames[1]["response"].asString()), Parse("[0, " + second + "]"));
  EXPECT_EQ(frames[2]["response"], Parse(R"(["Error", 404])"));
  EXPECT_TRUE(m_host.ExpectNoFrame(kSilence));
  EXPECT_TRUE(Recorded("{a}"));
  EXPECT_TRUE(Recorded("{b}"));
  EXPECT_FALSE(Recorded("{c}"));
  EXPECT_EQ(Records().size(), 2u);
  // An empty list answers -1 without an event.
  EXPECT_EQ(InstallFails(""), Parse(R"(["Error", -1])").toStyledString());
}

TEST_F(InstallTest, UninstallRemovesTheVersionAndAllowsAReinstall) {
  PackFolder("clock.pkg", "{c10c}", "1.0", kClockFiles);
  const std::string descriptor = "[" + Descriptor("{c10c}", "1.0", "clock.pkg") + "]";
  ASSERT_EQ(Install(BaseUrl(), descriptor, "1").size(), 2u);
  const std::string folder = AddOnFolder("{c10c}", "1.0");
  ASSERT_TRUE(fs::exists(folder + "/addon.so"));

  EXPECT_EQ(Parse(Ask(HostCommand("UninstallAddOn", R"(["{c10c}", "1.0"])", "u", "p"))),
            Parse(R"({"callbackId":"u","instanceId":0,"portId":"p","response":200,"rtype":"Vorneth-I"})"));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(Records(), Parse("[]"));
  EXPECT_EQ(CreateInstanceError("{c10c}", "1.0"), -5);
  EXPECT_EQ(Parse(Ask(HostCommand("UninstallAddOn", R"(["{c10c}", "1.0"])", "v", "p")))["response"], 0);

  const std::vector<Json::Value> again = Install(BaseUrl(), descriptor, "2");
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(Parse(again[0]["response"].asString())[0], 200);
  EXPECT_EQ(ReadBytes(folder + "/addon.so"), kClockFiles.at("addon.so"));
  EXPECT_TRUE(Recorded("{c10c}"));
}

// A "packageURL" object is read at this platform's member only; locations
// of the wrong type and URLs that cannot be taken apart end with -1.
TEST_F(InstallTest, PackageLocationsAndDescriptorsOfTheWrongType) {
  PackFolder("good.pkg", "{g}", "1.0", kClockFiles);
  const bool windowsHost = !HostLauncher().empty();
  const std::string own = windowsHost ? "win" : "linux";
  const std::string other = windowsHost ? "linux" : "win";
  const std::string uuidVersion = R"("packageUUID":"{g}","packageVersion":"1.0")";
  // Only the other platform's member: the base path alone, a folder (404).
  EXPECT_EQ(InstallFails(R"({"packageURL":{")" + other + R"(":"good.pkg"},)" + uuidVersion + "}"),
            Parse(R"(["Error", 404])").toStyledString());
  EXPECT_FALSE(Recorded("{g}"));
  const std::vector<Json::Value> frames = Install(
      BaseUrl(), R"([{"packageURL":{")" + own + R"(":"good.pkg",")" + other + R"(":"none.pkg"},)" + uuidVersion + "}]",
      "1");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1]["response"], Parse("[200]"));

  const std::string wrong[] = {
      R"({"packageURL":5,"packageUUID":"{h}","packageVersion":"1.0"})",
      R"({"packageURL":["good.pkg"],"packageUUID":"{h}","packageVersion":"1.0"})",
      R"({"packageURL":{")" + own + R"(":7},"packageUUID":"{h}","packageVersion":"1.0"})",
      R"({"packageURL":"good.pkg","packageUUID":5,"packageVersion":"1.0"})",
      R"({"packageURL":"good.pkg","packageUUID":"{h}","packageVersion":{"v":1}})",
  };
  for (const std::string& descriptor : wrong) {
    EXPECT_EQ(InstallFails(descriptor), Parse(R"(["Error", -1])").toStyledString()) << descriptor;
  }
  // No download client in this build; a "file" URL too short to name a file.
  const std::vector<Json::Value> http =
      Install("https://files.test/", "[" + Descriptor("{h}", "1.0", "h.pkg") + "]", "h");
  ASSERT_EQ(http.size(), 1u);
  EXPECT_EQ(http[0]["response"], Parse(R"(["Error", -1])"));
  const std::vector<Json::Value> shortUrl = Install("file://", "[" + Descriptor("{h}", "1.0", "") + "]", "s");
  ASSERT_EQ(shortUrl.size(), 1u);
  EXPECT_EQ(shortUrl[0]["response"], Parse(R"(["Error", -1])"));
  EXPECT_FALSE(Recorded("{h}"));
}

// Each package is damaged in one way; none installs or leaves anything.
TEST_F(InstallTest, TamperedPackagesInstallNothing) {
  PackFolder("base.pkg", "{t}", "1.0", kClockFiles, {"--name", "Clock"});
  PackFolder("case.pkg", "{T}", "1.0", kClockFiles);
  const std::string base = ReadBytes(Packages() + "/base.pkg");
  const std::unique_ptr<ZipArchive> archive = ZipArchive::Open(AsBytes(base));
  ASSERT_TRUE(archive);
  const std::optional<uint64_t> manifestIndex = archive->Find("manifest.json");
  const std::optional<uint64_t> innerIndex = archive->Find("addon.zip");
  ASSERT_TRUE(manifestIndex && innerIndex);
  const std::string manifest = archive->Read(*manifestIndex, 1 << 20).value_or("");
  const std::string inner = archive->Read(*innerIndex, 1 << 26).value_or("");
  ASSERT_NE(manifest.find(R"("name":"Clock")"), std::string::npos);
  const auto rebuild = [](const std::string& manifestText, const std::string& innerBytes) {
    ZipBuilder zip;
    if (!manifestText.empty()) zip.Add(ZipEntry::File("manifest.json", manifestText, ZipMethod::kDeflated));
    zip.Add(ZipEntry::File("addon.zip", innerBytes));
    return zip.Build();
  };
  std::string renamed = manifest;
  renamed.replace(renamed.find(R"("name":"Clock")") + 8, 5, "Clocl");
  std::string flipped = inner;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x01);
  WriteBytes(Packages() + "/manifest.pkg", rebuild(renamed, inner));
  WriteBytes(Packages() + "/inner.pkg", rebuild(manifest, flipped));
  WriteBytes(Packages() + "/no-manifest.pkg", rebuild("", inner));
  WriteBytes(Packages() + "/not-zip.pkg", "this is not an archive");
  WriteBytes(Packages() + "/empty.pkg", "");
  WriteBytes(Packages() + "/huge.pkg", "");
  fs::resize_file(Packages() + "/huge.pkg", (uintmax_t{256} << 20) + 1);  // sparse: nothing is written

  const std::pair<std::string, int> cases[] = {
      {"manifest.pkg", -8}, {"inner.pkg", -4},  {"case.pkg", -8},     {"no-manifest.pkg", -8},
      {"not-zip.pkg", -8},  {"empty.pkg", 404}, {"missing.pkg", 404}, {"huge.pkg", 413},
  };
  for (const auto& [package, result] : cases) {
    EXPECT_EQ(InstallFails(Descriptor("{t}", "1.0", package)),
              Parse(R"(["Error", )" + std::to_string(result) + "]").toStyledString())
        << package;
    EXPECT_FALSE(fs::exists(m_host.store_path()) && Recorded("{t}")) << package;
    EXPECT_FALSE(fs::exists(AddOnFolder("{t}", "1.0"))) << package;
  }
  // An unsigned manifest of more than 1 MiB is not valid; at 1 MiB it is.
  WriteBytes(m_root / "inner.zip", inner);
  std::optional<std::string> signature = RunPack({"sign", "--key", kKey, m_root / "inner.zip"});
  ASSERT_TRUE(signature.has_value());
  signature->erase(signature->find_last_not_of(" \r\n") + 1);
  const std::string unsignedManifest =
      R"({"manifest_version":1,"signature":")" + *signature + R"(","uuid":"{t}","version":"1.0")";
  const auto padded = [&](size_t size) {
    return unsignedManifest + std::string(size - unsignedManifest.size() - 1, ' ') + "}";
  };
  WriteBytes(Packages() + "/big-manifest.pkg", rebuild(padded((size_t{1} << 20) + 1), inner));
  EXPECT_EQ(InstallFails(Descriptor("{t}", "1.0", "big-manifest.pkg")), Parse(R"(["Error", -8])").toStyledString());
  EXPECT_FALSE(fs::exists(AddOnFolder("{t}", "1.0")));
  WriteBytes(Packages() + "/unsigned.pkg", rebuild(padded(size_t{1} << 20), inner));
  EXPECT_EQ(Install(BaseUrl(), "[" + Descriptor("{t}", "1.0", "unsigned.pkg") + "]", "u").size(), 2u);
  EXPECT_TRUE(Recorded("{t}"));
  EXPECT_EQ(ReadBytes(AddOnFolder("{t}", "1.0") + "/addon.so"), kClockFiles.at("addon.so"));
  // The package rebuilt as it was is sound: only the damage refused them.
  ASSERT_EQ(Parse(Ask(HostCommand("UninstallAddOn", R"(["{t}", "1.0"])", "x", "p")))["response"], 200);
  WriteBytes(Packages() + "/rebuilt.pkg", rebuild(manifest, inner));
  EXPECT_EQ(Install(BaseUrl(), "[" + Descriptor("{t}", "1.0", "rebuilt.pkg") + "]", "r").size(), 2u);
  EXPECT_TRUE(Recorded("{t}"));
}

// Signed packages whose inner archives try to write elsewhere: after each,
// the host has added nothing outside the add-on's own folder.
TEST_F(InstallTest, HostileArchivesWriteNothingOutsideTheAddOnFolder) {
  const std::string outside = m_root / "outside";
  fs::create_directories(outside);
  struct Case {
    std::string m_name;
    std::vector<ZipEntry> m_entries;
    int m_result;
  };
  std::vector<Case> cases = {
      {"slip",
       {ZipEntry::File("addon.so", "lib"), ZipEntry::File("../../../slip1.txt", "x"),
        ZipEntry::File("../../../../slip2.txt", "x"), ZipEntry::Folder("sub/"),
        ZipEntry::File("sub/../../../../slip3.txt", "x"), ZipEntry::File("..\\..\\..\\slip4.txt", "x")},
       200},
      {"absolute",
       {ZipEntry::File("addon.so", "lib"), ZipEntry::File(outside + "/abs.txt", "x"), ZipEntry::File("\\abs2.txt", "x"),
        ZipEntry::Folder(outside + "/made/")},
       200},
      {"links",
       {ZipEntry::SymbolicLink("link", outside), ZipEntry::File("link/through.txt", "x"),
        ZipEntry::SymbolicLink("addon.so", outside + "/target.txt")},
       200},
  };
  ZipEntry lying = ZipEntry::File("addon.so", "library content", ZipMethod::kDeflated);
  lying.m_declaredSize = 3;
  cases.push_back({"sizes", {ZipEntry::File("readme.txt", "fine"), lying}, 200});

  for (const Case& hostile : cases) {
    SCOPED_TRACE(hostile.m_name);
    ZipBuilder zip;
    for (const ZipEntry& entry : hostile.m_entries) zip.Add(entry);
    const std::string uuid = "{" + hostile.m_name + "}";
    PackInner(hostile.m_name + ".pkg", uuid, "1.0", zip.Build());
    const std::set<std::string> before = Snapshot();
    const std::vector<Json::Value> frames =
        Install(BaseUrl(), "[" + Descriptor(uuid, "1.0", hostile.m_name + ".pkg") + "]", hostile.m_name);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back()["response"][0], hostile.m_result);
    // Refused names are left out, but the add-on is recorded: its check at
    // instance creation decides whether it may run.
    EXPECT_TRUE(Recorded(uuid));
    ExpectOnlyInside(before, uuid, "1.0");
  }
  EXPECT_EQ(ReadBytes(AddOnFolder("{slip}", "1.0") + "/addon.so"), "lib");
  EXPECT_TRUE(fs::exists(AddOnFolder("{absolute}", "1.0") + "/addon.so"));
  EXPECT_EQ(Entries(outside), std::set<std::string>{});
  EXPECT_FALSE(fs::exists(AddOnFolder("{links}", "1.0") + "/addon.so"));
  EXPECT_EQ(ReadBytes(AddOnFolder("{sizes}", "1.0") + "/readme.txt"), "fine");
  EXPECT_NE(ReadBytes(AddOnFolder("{sizes}", "1.0") + "/addon.so"), "library content");
}

// An archive whose entries share their bytes is refused whole: -4, no
// folder, no record; the next request is served normally.
TEST_F(InstallTest, OverlappingEntriesAreRefusedAndLeaveNothing) {
  ZipBuilder zip;
  zip.AddAlias(zip.Add(ZipEntry::File("a.bin", std::string(1 << 20, 'a'), ZipMethod::kDeflated)), 3000, "copy-");
  PackInner("bomb.pkg", "{bomb}", "1.0", zip.Build());
  const std::set<std::string> before = Snapshot();
  EXPECT_EQ(InstallFails(Descriptor("{bomb}", "1.0", "bomb.pkg")), Parse(R"(["Error", -4])").toStyledString());
  EXPECT_FALSE(fs::exists(AddOnFolder("{bomb}", "1.0")));
  EXPECT_FALSE(fs::exists(m_host.store_path()) && Recorded("{bomb}"));
  ExpectOnlyInside(before, "{bomb}", "1.0");
  PackFolder("clock.pkg", "{c10c}", "1.0", kClockFiles);
  EXPECT_EQ(Install(BaseUrl(), "[" + Descriptor("{c10c}", "1.0", "clock.pkg") + "]", "n").size(), 2u);
}

// Identities that name no safe folder end with -8 before anything is read.
TEST_F(InstallTest, UnsafeIdentitiesAreRefusedBeforeFetching) {
  // No package there yet: fetching it would answer 404.
  for (const std::string& identity : {".."s, "."s, "a/b"s, "a\\\\b"s, "x\\u0001"s, ""s}) {
    SCOPED_TRACE(identity);
    EXPECT_EQ(InstallFails(Descriptor(identity, "1.0", "unsafe.pkg")), Parse(R"(["Error", -8])").toStyledString());
    EXPECT_EQ(InstallFails(Descriptor("{u}", identity, "unsafe.pkg")), Parse(R"(["Error", -8])").toStyledString());
  }
  ZipBuilder zip;
  zip.Add(ZipEntry::File("addon.so", "lib"));
  PackInner("unsafe.pkg", "..", "..", zip.Build());
  const std::set<std::string> before = Snapshot();
  EXPECT_EQ(InstallFails(Descriptor("..", "..", "unsafe.pkg")), Parse(R"(["Error", -8])").toStyledString());
  ExpectOnlyInside(before, "{none}", "1.0");
  EXPECT_FALSE(fs::exists(m_host.store_path()));
}

}  // namespace
}  // namespace vorneth::testing
