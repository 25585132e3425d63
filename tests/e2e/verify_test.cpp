// vorneth-pack verify: the host's own checks on packages, one tampered link
// of the chain at a time, each refused with the failing step named.
#include <gtest/gtest.h>

#include <filesystem>

#include "pack_tool_support.h"
#include "support/zip_builder.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.path().empty());
    if (!BuiltWithDevelopmentKey()) GTEST_SKIP() << "built with another VORNETH_PUBLIC_KEY";
    fs::create_directories(m_folder + "/sub");
    fs::create_directories(m_temporary);
    WriteBytes(m_folder + "/addon.so", "library");
    WriteBytes(m_folder + "/sub/x.txt", "data");
    ASSERT_EQ(Pack(m_folder, m_package).m_status, 0);
    const std::optional<std::vector<PackedEntry>> entries = ReadZip(ReadBytes(m_package));
    ASSERT_TRUE(entries.has_value());
    m_manifest = FindEntry(*entries, "manifest.json")->m_content;
    m_inner = FindEntry(*entries, "addon.zip")->m_content;
  }

  ToolRun Pack(const std::string& input, const std::string& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"pack", "--key", kPrivateKey, "--uuid", "addon-uuid", "--version", "2.0"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!input.empty()) args.push_back(input);
    args.push_back(out);
    return RunPackTool(m_scratch, args);
  }

  // verify with the tool's temporary folders kept inside the scratch
  // folder, so that a test sees whether it removes them.
  ToolRun Verify(const std::string& package, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"verify"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(package);
    const ToolRun run = RunPackTool(m_scratch, args, {{"TMPDIR", m_temporary}});
    EXPECT_TRUE(fs::is_empty(m_temporary));
    return run;
  }

  // A package file holding `entries`, written as given.
  std::string Package(const std::string& name, const std::vector<std::pair<std::string, std::string>>& entries) {
    ZipBuilder zip;
    for (const auto& [entry, content] : entries) zip.Add(ZipEntry::File(entry, content));
    const std::string path = m_scratch / name;
    WriteBytes(path, zip.Build());
    return path;
  }

  // The refusal names `step`, with exit status 3.
  static void ExpectRefused(const ToolRun& run, const std::string& step) {
    EXPECT_EQ(run.m_status, 3) << run.m_err;
    EXPECT_NE(run.m_err.find("refused: " + step), std::string::npos) << run.m_err;
    EXPECT_EQ(run.m_out.find("the host would install"), std::string::npos) << run.m_out;
  }

  ScratchDir m_scratch;
  const std::string m_folder = m_scratch / "addon";
  const std::string m_temporary = m_scratch / "tmp";
  const std::string m_package = m_scratch / "good.pkg";
  std::string m_manifest;
  std::string m_inner;
};

TEST_F(VerifyTest, AcceptsWhatPackMakesForTheIdentityItNames) {
  ToolRun run = Verify(m_package);
  EXPECT_EQ(run.m_status, 0) << run.m_err;
  EXPECT_NE(run.m_out.find("valid for uuid \"addon-uuid\" version \"2.0\""), std::string::npos) << run.m_out;
  EXPECT_NE(run.m_out.find("installed files: match"), std::string::npos) << run.m_out;
  EXPECT_EQ(Verify(m_package, {"--uuid", "addon-uuid", "--version", "2.0"}).m_status, 0);

  ASSERT_EQ(Pack(m_folder, m_scratch / "v1.pkg", {"--manifest-version", "1"}).m_status, 0);
  run = Verify(m_scratch / "v1.pkg");
  EXPECT_EQ(run.m_status, 0) << run.m_err;
}

TEST_F(VerifyTest, RefusesATamperedManifestOrAnotherIdentity) {
  ExpectRefused(Verify(m_package, {"--uuid", "ADDON-uuid"}), "manifest.json: names uuid \"addon-uuid\"");
  ExpectRefused(Verify(m_package, {"--version", "2.0.0"}), "manifest.json: names");

  std::string changed = m_manifest;
  const size_t name = changed.find("\"name\":\"\"");
  ASSERT_NE(name, std::string::npos);
  changed.insert(name + 8, "x");
  ExpectRefused(Verify(Package("manifest.pkg", {{"manifest.json", changed}, {"addon.zip", m_inner}})),
                "manifest.json: not valid");
  ExpectRefused(Verify(Package("nomanifest.pkg", {{"addon.zip", m_inner}})), "manifest.json: missing");
  WriteBytes(m_scratch / "text.pkg", "not an archive at all");
  ExpectRefused(Verify(m_scratch / "text.pkg"), "package: not a readable ZIP archive");
  EXPECT_EQ(Verify(m_scratch / "missing.pkg").m_status, 1);
}

TEST_F(VerifyTest, RefusesAnInnerArchiveThatIsNotTheSignedOne) {
  std::string changed = m_inner;
  changed[changed.size() / 2] ^= 0x01;
  ExpectRefused(Verify(Package("inner.pkg", {{"manifest.json", m_manifest}, {"addon.zip", changed}})),
                "addon.zip: does not carry");
  ExpectRefused(Verify(Package("noinner.pkg", {{"manifest.json", m_manifest}})), "addon.zip: missing");
}

TEST_F(VerifyTest, RefusesSignedArchivesWhoseFilesDoNotMatchOrThatBreakTheLimits) {
  // Signed as a whole, but a file differs from the signed checksum list.
  const std::optional<std::vector<PackedEntry>> entries = ReadZip(m_inner);
  ASSERT_TRUE(entries.has_value());
  ZipBuilder changed;
  for (const PackedEntry& entry : *entries) {
    if (entry.m_name.back() == '/') {
      changed.Add(ZipEntry::Folder(entry.m_name));
    } else {
      changed.Add(ZipEntry::File(entry.m_name, entry.m_name == "sub/x.txt" ? "DATA" : entry.m_content));
    }
  }
  WriteBytes(m_scratch / "changed.zip", changed.Build());
  ASSERT_EQ(Pack("", m_scratch / "changed.pkg", {"--inner-archive", m_scratch / "changed.zip"}).m_status, 0);
  ExpectRefused(Verify(m_scratch / "changed.pkg"), "installed files:");

  // Two entries over the same bytes.
  ZipBuilder overlapping;
  overlapping.Add(ZipEntry::File("a.bin", std::string(4096, 'a')));
  overlapping.AddAlias(0, 1, "copy");
  WriteBytes(m_scratch / "overlap.zip", overlapping.Build());
  ASSERT_EQ(Pack("", m_scratch / "overlap.pkg", {"--inner-archive", m_scratch / "overlap.zip"}).m_status, 0);
  ExpectRefused(Verify(m_scratch / "overlap.pkg"), "addon.zip: breaks the unpacking limits");
}

}  // namespace
}  // namespace vorneth::testing
