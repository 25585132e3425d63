// vorneth-pack pack: the package a folder becomes, checked link by link the
// way the host checks it (signatures with the crypto library against the
// development public key, the checksum list's canonical text from the
// host's own code), and its refusals of bad input.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <filesystem>

#include "addons/checksum_list.h"
#include "json/styled_writer.h"
#include "pack_tool_support.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

const std::string kIcon("\x89PNG\r\n\x1a\n", 8);
const std::string kIconBase64 = "iVBORw0KGgo=";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(Json::Reader().parse(text, value)) << text;
  return value;
}

std::vector<std::string> MemberNames(const Json::Value& object) {
  std::vector<std::string> names = object.getMemberNames();
  std::sort(names.begin(), names.end());
  return names;
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.path().empty());
    fs::create_directories(m_folder + "/sub/deep");
    fs::create_directories(m_folder + "/empty");
    WriteBytes(m_folder + "/addon.so", std::string("\x7f"
                                                   "ELF library\0bytes",
                                                   18));
    WriteBytes(m_folder + "/sub/a b.txt", "spaced name");
    WriteBytes(m_folder + "/sub/deep/f.txt", "deep");
    WriteBytes(m_folder + "/sub-x.txt", "sorts before sub/");
    // A stale checksum list of the author's: replaced, never listed.
    WriteBytes(m_folder + "/signature.json", "{\"stale\":true}");
    WriteBytes(m_icon, kIcon);
  }

  // Runs pack with the development key, uuid and version, then `extra`,
  // then the folder and `out`.
  ToolRun Pack(const std::string& out, std::vector<std::string> extra = {}, const std::string& folder = {}) {
    std::vector<std::string> args = {"pack", "--key", kPrivateKey, "--uuid", "9b2f-addon", "--version", "1.2.3"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(folder.empty() ? m_folder : folder);
    args.push_back(out);
    return RunPackTool(m_scratch, args);
  }

  std::vector<PackedEntry> PackedEntries(const std::string& package) {
    const std::optional<std::vector<PackedEntry>> entries = ReadZip(ReadBytes(package));
    EXPECT_TRUE(entries.has_value()) << package;
    return entries.value_or(std::vector<PackedEntry>());
  }

  ScratchDir m_scratch;
  const std::string m_folder = m_scratch / "my addon";
  const std::string m_icon = m_scratch / "icon.png";
};

TEST_F(PackTest, SignedManifestCoversItselfAndTheInnerArchive) {
  const std::string package = m_scratch / "out.pkg";
  const ToolRun run = Pack(package, {"--name", "Näme", "--description", "says \"hi\"", "--icon", m_icon});
  ASSERT_EQ(run.m_status, 0) << run.m_err;
  const std::vector<PackedEntry> entries = PackedEntries(package);
  ASSERT_EQ(EntryNames(entries), (std::vector<std::string>{"addon.zip", "manifest.json"}));

  const std::string& text = FindEntry(entries, "manifest.json")->m_content;
  const std::string& inner = FindEntry(entries, "addon.zip")->m_content;
  const Json::Value manifest = Parse(text);
  EXPECT_EQ(MemberNames(manifest),
            (std::vector<std::string>{"description", "icon", "manifest_signature", "manifest_version", "name",
                                      "signature", "uuid", "version"}));
  EXPECT_EQ(manifest["uuid"].asString(), "9b2f-addon");
  EXPECT_EQ(manifest["version"].asString(), "1.2.3");
  EXPECT_EQ(manifest["name"].asString(), "Näme");
  EXPECT_EQ(manifest["description"].asString(), "says \"hi\"");
  EXPECT_EQ(manifest["icon"].asString(), kIconBase64);
  EXPECT_EQ(manifest["manifest_version"].asInt(), 2);
  // Written by the host's writer, so the host reads the text it signs.
  EXPECT_EQ(StyledWriter().write(manifest), text);

  const std::string ownSignature = manifest["manifest_signature"].asString();
  ASSERT_EQ(ownSignature.size(), 512u);
  std::string signedText = text;
  signedText.erase(signedText.find(ownSignature), ownSignature.size());
  EXPECT_NE(signedText.find("\"manifest_signature\":\"\""), std::string::npos);
  EXPECT_TRUE(SignatureVerifies(kPublicKey, signedText, ownSignature));
  EXPECT_FALSE(SignatureVerifies(kPublicKey, text, ownSignature));

  EXPECT_TRUE(SignatureVerifies(kPublicKey, inner, manifest["signature"].asString()));
  ASSERT_TRUE(ReadZip(inner).has_value());
}

TEST_F(PackTest, InnerArchiveHoldsTheFolderInOrderWithASignedChecksumList) {
  const std::string package = m_scratch / "out.pkg";
  ASSERT_EQ(Pack(package).m_status, 0);
  const std::optional<std::vector<PackedEntry>> inner =
      ReadZip(FindEntry(PackedEntries(package), "addon.zip")->m_content);
  ASSERT_TRUE(inner.has_value());
  // Byte order: every folder entry before what it holds.
  ASSERT_EQ(EntryNames(*inner), (std::vector<std::string>{"addon.so", "empty/", "signature.json", "sub-x.txt", "sub/",
                                                          "sub/a b.txt", "sub/deep/", "sub/deep/f.txt"}));
  std::tm epoch{};
  epoch.tm_year = 80;
  epoch.tm_mday = 1;
  epoch.tm_isdst = -1;
  const int64_t dosEpoch = static_cast<int64_t>(std::mktime(&epoch));
  for (const PackedEntry& entry : *inner) {
    const bool folder = entry.m_name.back() == '/';
    EXPECT_EQ(entry.m_system, 3u) << entry.m_name;  // Unix attributes
    EXPECT_EQ((entry.m_attributes >> 16) & S_IFMT, folder ? S_IFDIR : S_IFREG) << entry.m_name;
    EXPECT_EQ(entry.m_mtime, dosEpoch) << entry.m_name;
    if (!folder && entry.m_name != kChecksumListFile) {
      EXPECT_EQ(entry.m_content, ReadBytes(m_folder + "/" + entry.m_name));
    }
  }

  const Json::Value list = Parse(FindEntry(*inner, kChecksumListFile)->m_content);
  EXPECT_EQ(MemberNames(list), (std::vector<std::string>{"checksum", "signature"}));
  const Json::Value& checksum = list[kChecksumMember];
  ASSERT_TRUE(checksum.isArray());
  std::vector<std::string> listed;
  for (const Json::Value& item : checksum) {
    ASSERT_EQ(item.size(), 1u);
    const std::string name = item.getMemberNames().front();
    listed.push_back(name);
    EXPECT_EQ(item[name].asString(), Sha1LowerHex(ReadBytes(m_folder + "/" + name))) << name;
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"addon.so", "sub-x.txt", "sub/a b.txt", "sub/deep/f.txt"}));
  // Signed over the text the host computes from the list it reads.
  EXPECT_TRUE(
      SignatureVerifies(kPublicKey, CanonicalChecksumText(checksum), list[kChecksumSignatureMember].asString()));
}

TEST_F(PackTest, SameInputGivesTheSameBytes) {
  ASSERT_EQ(Pack(m_scratch / "first.pkg", {"--icon", m_icon}).m_status, 0);
  for (const auto& entry : fs::recursive_directory_iterator(m_folder)) {
    fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  }
  ASSERT_EQ(Pack(m_scratch / "second.pkg", {"--icon", m_icon}).m_status, 0);
  const std::string first = ReadBytes(m_scratch / "first.pkg");
  EXPECT_EQ(first, ReadBytes(m_scratch / "second.pkg"));

  // ... and different input different bytes.
  WriteBytes(m_folder + "/sub/deep/f.txt", "deeper");
  ASSERT_EQ(Pack(m_scratch / "third.pkg", {"--icon", m_icon}).m_status, 0);
  EXPECT_NE(first, ReadBytes(m_scratch / "third.pkg"));
}

TEST_F(PackTest, ManifestVersionOneCarriesTheIconAsAFileAndNoOwnSignature) {
  ASSERT_EQ(Pack(m_scratch / "icon.pkg", {"--manifest-version", "1", "--icon", m_icon}).m_status, 0);
  std::vector<PackedEntry> entries = PackedEntries(m_scratch / "icon.pkg");
  ASSERT_EQ(EntryNames(entries), (std::vector<std::string>{"addon.zip", "icon.png", "manifest.json"}));
  EXPECT_EQ(FindEntry(entries, "icon.png")->m_content, kIcon);
  const Json::Value manifest = Parse(FindEntry(entries, "manifest.json")->m_content);
  EXPECT_EQ(MemberNames(manifest),
            (std::vector<std::string>{"description", "manifest_version", "name", "signature", "uuid", "version"}));
  EXPECT_EQ(manifest["manifest_version"].asInt(), 1);
  EXPECT_TRUE(
      SignatureVerifies(kPublicKey, FindEntry(entries, "addon.zip")->m_content, manifest["signature"].asString()));

  ASSERT_EQ(Pack(m_scratch / "plain.pkg", {"--manifest-version=1"}).m_status, 0);
  entries = PackedEntries(m_scratch / "plain.pkg");
  EXPECT_EQ(EntryNames(entries), (std::vector<std::string>{"addon.zip", "manifest.json"}));
}

TEST_F(PackTest, GivenInnerArchiveIsWrappedUnchanged) {
  // Anything at all: tests wrap hand-made hostile archives this way.
  static constexpr char kHostile[] = "PK\x03\x04 not really an archive";
  const std::string hostile(kHostile, sizeof kHostile - 1);
  WriteBytes(m_scratch / "hostile.zip", hostile);
  const ToolRun run = RunPackTool(m_scratch, {"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "v",
                                              "--inner-archive", m_scratch / "hostile.zip", m_scratch / "h.pkg"});
  ASSERT_EQ(run.m_status, 0) << run.m_err;
  const std::vector<PackedEntry> entries = PackedEntries(m_scratch / "h.pkg");
  ASSERT_NE(FindEntry(entries, "addon.zip"), nullptr);
  EXPECT_EQ(FindEntry(entries, "addon.zip")->m_content, hostile);
  const Json::Value manifest = Parse(FindEntry(entries, "manifest.json")->m_content);
  EXPECT_TRUE(SignatureVerifies(kPublicKey, hostile, manifest["signature"].asString()));
}

TEST_F(PackTest, RefusesFoldersWithLinksOrSpecialFilesNamingThem) {
  fs::create_symlink("../addon.so", m_folder + "/sub/link.so");
  ToolRun run = Pack(m_scratch / "link.pkg");
  EXPECT_EQ(run.m_status, 1);
  EXPECT_NE(run.m_err.find("sub/link.so"), std::string::npos) << run.m_err;
  EXPECT_NE(run.m_err.find("symbolic link"), std::string::npos) << run.m_err;
  EXPECT_FALSE(fs::exists(m_scratch / "link.pkg"));
  fs::remove(m_folder + "/sub/link.so");

  ASSERT_EQ(mkfifo((m_folder + "/pipe").c_str(), 0600), 0);
  run = Pack(m_scratch / "fifo.pkg");
  EXPECT_EQ(run.m_status, 1);
  EXPECT_NE(run.m_err.find("pipe"), std::string::npos) << run.m_err;
  EXPECT_FALSE(fs::exists(m_scratch / "fifo.pkg"));

  run = Pack(m_scratch / "none.pkg", {}, m_scratch / "no such folder");
  EXPECT_EQ(run.m_status, 1);
  EXPECT_NE(run.m_err.find("no such folder"), std::string::npos) << run.m_err;
}

TEST_F(PackTest, BadCommandLinesAndInputsFailWithoutOutput) {
  const std::string out = m_scratch / "out.pkg";
  const struct {
    std::vector<std::string> m_args;
    int m_status;
    std::string m_complaint;
  } cases[] = {
      {{"pack", "--uuid", "u", "--version", "v", m_folder, out}, 2, "--key"},
      {{"pack", "--key", kPrivateKey, "--version", "v", m_folder, out}, 2, "--uuid"},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", m_folder, out}, 2, "--version"},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "v", out}, 2, "ADDON_DIR"},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "v", "--manifest-version", "3", m_folder, out},
       2,
       "--manifest-version"},
      {{"pack", "--key", kPrivateKey, "--uuid", "../up", "--version", "v", m_folder, out}, 2, "../up"},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "", m_folder, out}, 2, "version"},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "1\n2", m_folder, out}, 2, "version"},
      {{"pack", "--key", kPublicKey, "--uuid", "u", "--version", "v", m_folder, out}, 1, kPublicKey},
      {{"pack", "--key", kPrivateKey, "--uuid", "u", "--version", "v", "--icon", m_scratch / "no.png", m_folder, out},
       1,
       "no.png"},
  };
  for (const auto& bad : cases) {
    const ToolRun run = RunPackTool(m_scratch, bad.m_args);
    EXPECT_EQ(run.m_status, bad.m_status) << bad.m_complaint << ": " << run.m_err;
    EXPECT_NE(run.m_err.find(bad.m_complaint), std::string::npos) << run.m_err;
    EXPECT_FALSE(fs::exists(out)) << bad.m_complaint;
  }
}

TEST_F(PackTest, ExistingOutputIsKeptUnlessForced) {
  const std::string out = m_scratch / "out.pkg";
  WriteBytes(out, "older package");
  const ToolRun run = Pack(out);
  EXPECT_EQ(run.m_status, 1);
  EXPECT_NE(run.m_err.find("already exists"), std::string::npos) << run.m_err;
  EXPECT_EQ(ReadBytes(out), "older package");

  ASSERT_EQ(Pack(out, {"--force"}).m_status, 0);
  EXPECT_EQ(EntryNames(PackedEntries(out)), (std::vector<std::string>{"addon.zip", "manifest.json"}));
}

TEST_F(PackTest, UnsafeIdentityPacksWhenAskedFor) {
  const std::string out = m_scratch / "unsafe.pkg";
  const ToolRun run = RunPackTool(m_scratch, {"pack", "--key", kPrivateKey, "--uuid", "../../escape", "--version", "..",
                                              "--allow-unsafe-identity", m_folder, out});
  ASSERT_EQ(run.m_status, 0) << run.m_err;
  const Json::Value manifest = Parse(FindEntry(PackedEntries(out), "manifest.json")->m_content);
  EXPECT_EQ(manifest["uuid"].asString(), "../../escape");
  EXPECT_EQ(manifest["version"].asString(), "..");
}

}  // namespace
}  // namespace vorneth::testing
