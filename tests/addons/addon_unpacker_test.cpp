// The unpacker on real folders: what lands where, what is refused, the
// limits, and after every case a walk of the whole test folder proving that
// nothing was written outside the add-on folder.
#include "addons/addon_unpacker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#ifdef __linux__
#include "support/small_filesystem.h"
#endif
#include "support/trace_recorder.h"
#include "support/zip_builder.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kVictimContent[] = "must stay as it is";

// The test's root holds the add-on folder four levels down (so that climbing
// names land inside the root, where the walk sees them) and a folder
// "outside" with a file that hostile archives aim at.
class AddOnUnpackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_root.path().empty());
    m_folder = m_root / "data/addons/uuid/1.0";
    fs::create_directories(m_folder);
    fs::create_directories(m_root / "outside");
    std::ofstream(m_root / "outside/victim") << kVictimContent;
  }

  UnpackResult Unpack(const ZipBuilder& builder, const UnpackLimits& limits = {}) {
    const std::string bytes = builder.Build();
    return UnpackAddOnArchive(AsBytes(bytes), m_folder, limits);
  }

  // Every entry under the root, relative to it: "/" after a folder, "@"
  // after a link. Links are listed, never followed.
  std::set<std::string> Tree() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(m_root.path())) {
      std::string name = entry.path().lexically_relative(m_root.path()).generic_string();
      if (entry.is_symlink()) {
        name += "@";
      } else if (entry.is_directory()) {
        name += "/";
      }
      names.insert(name);
    }
    return names;
  }

  // The entries outside the add-on folder are exactly those the test made.
  void ExpectNothingOutside() const {
    std::set<std::string> outside;
    for (const std::string& name : Tree()) {
      if (!name.starts_with("data/addons/uuid/1.0/")) outside.insert(name);
    }
    const std::set<std::string> made = {"data/", "data/addons/", "data/addons/uuid/", "outside/", "outside/victim"};
    EXPECT_EQ(outside, made);
    EXPECT_EQ(Read(m_root / "outside/victim"), kVictimContent);
  }

  // The add-on folder's entries, relative to it, marked as in Tree().
  std::set<std::string> Unpacked() const {
    std::set<std::string> names;
    const std::string prefix = "data/addons/uuid/1.0/";
    for (const std::string& name : Tree()) {
      if (name.starts_with(prefix) && name != prefix) names.insert(name.substr(prefix.size()));
    }
    return names;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  std::string ReadUnpacked(const std::string& name) const { return Read(m_folder + "/" + name); }

  ScratchDir m_root;
  std::string m_folder;
};

TEST_F(AddOnUnpackerTest, UnpacksFoldersListedBeforeTheirFilesAndReplacesFiles) {
  std::ofstream(m_folder + "/top.txt") << "old content, longer than the new";
  ZipBuilder builder;
  builder.Add(ZipEntry::Folder("sub/"));
  builder.Add(ZipEntry::File("sub/a.txt", "alpha", ZipMethod::kDeflated));
  builder.Add(ZipEntry::Folder("sub/deeper/"));
  builder.Add(ZipEntry::File("sub/deeper/b.bin", std::string("b\0b", 3)));
  builder.Add(ZipEntry::DosFolder("dos"));
  builder.Add(ZipEntry::File("dos/c", "gamma"));
  builder.Add(ZipEntry::File("top.txt", "new"));
  builder.Add(ZipEntry::File("empty", ""));
  ASSERT_EQ(Unpack(builder), UnpackResult::kUnpacked);
  EXPECT_EQ(Unpacked(), (std::set<std::string>{"dos/", "dos/c", "empty", "sub/", "sub/a.txt", "sub/deeper/",
                                               "sub/deeper/b.bin", "top.txt"}));
  EXPECT_EQ(ReadUnpacked("sub/a.txt"), "alpha");
  EXPECT_EQ(ReadUnpacked("sub/deeper/b.bin"), std::string("b\0b", 3));
  EXPECT_EQ(ReadUnpacked("dos/c"), "gamma");
  EXPECT_EQ(ReadUnpacked("top.txt"), "new");
  ExpectNothingOutside();
}

TEST_F(AddOnUnpackerTest, LeavesOutFilesOfFoldersTheArchiveDoesNotList) {
  ZipBuilder builder;
  builder.Add(ZipEntry::File("unlisted/a.txt", "a"));
  builder.Add(ZipEntry::File("top", "t"));
  builder.Add(ZipEntry::File("unlisted/deep/b.txt", "b"));
  ASSERT_EQ(Unpack(builder), UnpackResult::kUnpacked);
  EXPECT_EQ(Unpacked(), (std::set<std::string>{"top"}));
  ExpectNothingOutside();
}

#ifndef _WIN32
// On Windows a path this long passes the platform's path limit, and the
// entry is simply missing.
TEST_F(AddOnUnpackerTest, CutsLongNamesTo259Bytes) {
  const std::string folder = "d/" + std::string(200, 'a') + "/";
  const std::string name = folder + std::string(100, 'b');
  ZipBuilder builder;
  builder.Add(ZipEntry::Folder("d/"));
  builder.Add(ZipEntry::Folder(folder));
  builder.Add(ZipEntry::File(name, "long"));
  ASSERT_EQ(Unpack(builder), UnpackResult::kUnpacked);
  EXPECT_EQ(ReadUnpacked(name.substr(0, kMaxEntryNameBytes)), "long");
  EXPECT_EQ(Unpacked().count(name.substr(0, kMaxEntryNameBytes)), 1u);
  EXPECT_EQ(Unpacked().size(), 3u);
  ExpectNothingOutside();
}
#endif

TEST_F(AddOnUnpackerTest, WritesNoEntryWithAHostileNameOrALink) {
  const std::vector<std::string> hostile = {
      "../escaped",     "../../../../escaped", "/tmp/absolute",      "\\absolute", "a/../../escaped",
      "C:/escaped",     "c:escaped",           "a\\..\\..\\escaped", "..",         "sub/..",
      "..\\escaped",    "control\x01name",     "tab\tname",          "delete\x7f", std::string("nul\0name", 8),
      "sub/../escaped", "../outside/victim",
  };
  ZipBuilder builder;
  builder.Add(ZipEntry::Folder("sub/"));
  for (const std::string& name : hostile) builder.Add(ZipEntry::File(name, "hostile"));
  builder.Add(ZipEntry::Folder("../escapedfolder/"));
  builder.Add(ZipEntry::Folder("/tmp/"));
  builder.Add(ZipEntry::SymbolicLink("link", "../../../../outside/victim"));
  builder.Add(ZipEntry::SymbolicLink("sub/link", "/"));
  builder.Add(ZipEntry::File("good", "fine"));
  ClearTraceRecords();
  ASSERT_EQ(Unpack(builder), UnpackResult::kUnpacked);
  EXPECT_EQ(Unpacked(), (std::set<std::string>{"good", "sub/"}));
  EXPECT_EQ(TraceCountMessage("UnpackAddOnArchive - entry not written"), hostile.size() + 4)
      << "every refused entry is traced";
  EXPECT_EQ(ReadUnpacked("good"), "fine");
  ExpectNothingOutside();
}

#ifndef _WIN32
// Links that were there before (a stale add-on folder) are replaced when a
// file takes their name and never followed on the way to another entry.
TEST_F(AddOnUnpackerTest, NeverWritesThroughALinkAlreadyInTheFolder) {
  fs::create_symlink(m_root / "outside/victim", m_folder + "/file");
  fs::create_symlink(m_root / "outside", m_folder + "/folder");
  ZipBuilder builder;
  builder.Add(ZipEntry::File("file", "replaced"));
  builder.Add(ZipEntry::File("folder/victim", "through a link"));
  builder.Add(ZipEntry::File("folder/new", "through a link"));
  builder.Add(ZipEntry::Folder("folder/newfolder/"));
  builder.Add(ZipEntry::Folder("folder/"));
  ASSERT_EQ(Unpack(builder), UnpackResult::kUnpacked);
  EXPECT_EQ(Unpacked(), (std::set<std::string>{"file", "folder@"}));
  EXPECT_FALSE(fs::is_symlink(m_folder + "/file"));
  EXPECT_EQ(ReadUnpacked("file"), "replaced");
  ExpectNothingOutside();
}
#endif

TEST_F(AddOnUnpackerTest, RefusesTooManyEntriesAndRemovesTheFolder) {
  ZipBuilder atLimit;
  for (int i = 0; i < 10; ++i) atLimit.Add(ZipEntry::File("f" + std::to_string(i), "x"));
  EXPECT_EQ(Unpack(atLimit, {.m_maxEntries = 10}), UnpackResult::kUnpacked);
  EXPECT_EQ(Unpacked().size(), 10u);

  ZipBuilder overLimit = atLimit;
  overLimit.Add(ZipEntry::File("f10", "x"));
  EXPECT_EQ(Unpack(overLimit, {.m_maxEntries = 10}), UnpackResult::kRefused);
  EXPECT_FALSE(fs::exists(m_folder)) << "the folder goes, with what an earlier unpacking left";
  ExpectNothingOutside();
}

TEST_F(AddOnUnpackerTest, RefusesMoreEntriesThanTheProductionLimit) {
  ZipBuilder builder;
  for (uint64_t i = 0; i <= kMaxArchiveEntries; ++i) builder.Add(ZipEntry::File("f" + std::to_string(i), ""));
  EXPECT_EQ(Unpack(builder), UnpackResult::kRefused);
  EXPECT_FALSE(fs::exists(m_folder));
}

TEST_F(AddOnUnpackerTest, RefusesAnOverlappingEntryBombBeforeWritingAnything) {
  ZipBuilder bomb;
  bomb.Add(ZipEntry::File("first", "written before the bomb if the check came late"));
  const size_t kernel = bomb.Add(ZipEntry::File("kernel", std::string(1024 * 1024, '\0'), ZipMethod::kDeflated));
  bomb.AddAlias(kernel, 2000, "copy");
  ClearTraceRecords();
  EXPECT_EQ(Unpack(bomb), UnpackResult::kRefused);
  EXPECT_TRUE(TraceHasMessage("UnpackAddOnArchive - ERROR - archive refused", "UnpackAddOnArchive"));
  EXPECT_FALSE(fs::exists(m_folder));
  ExpectNothingOutside();
}

TEST_F(AddOnUnpackerTest, RefusesMoreContentThanTheLimitCountingWhatComesOut) {
  ZipBuilder exact;
  exact.Add(ZipEntry::File("a", std::string(500, 'a'), ZipMethod::kDeflated));
  exact.Add(ZipEntry::File("b", std::string(500, 'b')));
  EXPECT_EQ(Unpack(exact, {.m_maxUnpackedBytes = 1000}), UnpackResult::kUnpacked);
  EXPECT_EQ(ReadUnpacked("b"), std::string(500, 'b'));

  ZipBuilder over = exact;
  over.Add(ZipEntry::File("c", "c", ZipMethod::kDeflated));
  EXPECT_EQ(Unpack(over, {.m_maxUnpackedBytes = 1000}), UnpackResult::kRefused);
  EXPECT_FALSE(fs::exists(m_folder));
  ExpectNothingOutside();
}

TEST_F(AddOnUnpackerTest, WritesNoMoreThanALyingSizeFieldAdmits) {
  ZipBuilder builder;
  ZipEntry liar = ZipEntry::File("liar", std::string(1024 * 1024, 'x'), ZipMethod::kDeflated);
  liar.m_declaredSize = 10;
  builder.Add(liar);
  builder.Add(ZipEntry::File("honest", "fine"));
  EXPECT_EQ(Unpack(builder, {.m_maxUnpackedBytes = 64 * 1024}), UnpackResult::kUnpacked)
      << "the lie is stopped at the size field, long before the total limit";
  EXPECT_LE(fs::file_size(m_folder + "/liar"), 10u);
  EXPECT_EQ(ReadUnpacked("honest"), "fine");
  ExpectNothingOutside();
}

TEST_F(AddOnUnpackerTest, LeavesTheFolderAloneForBytesThatAreNoArchive) {
  std::ofstream(m_folder + "/kept") << "kept";
  const std::string garbage(1000, 'g');
  EXPECT_EQ(UnpackAddOnArchive(AsBytes(garbage), m_folder), UnpackResult::kNotAnArchive);
  EXPECT_EQ(Unpacked(), (std::set<std::string>{"kept"}));
  ExpectNothingOutside();
}

#ifdef __linux__
// A disk too small for the archive: the first file it cannot take whole ends
// the unpacking, and the folder goes with what was written before; with room
// the same archive unpacks. An entry left out for its name does not count.
TEST(AddOnUnpackerDiskFullTest, AFileTheDiskCannotTakeEndsTheUnpackingAndRemovesTheFolder) {
  ZipBuilder builder;
  builder.Add(ZipEntry::File("first", "written before the disk fills"));
  builder.Add(ZipEntry::File("../refused", "left out for its name"));
  builder.Add(ZipEntry::Folder("sub/"));
  std::string big(256 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  builder.Add(ZipEntry::File("sub/big", big, ZipMethod::kDeflated));
  builder.Add(ZipEntry::File("last", "never reached"));
  const std::string bytes = builder.Build();

  SmallFilesystem small(64 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.why();
  const std::string folder = small / "addon";
  fs::create_directories(folder);
  ClearTraceRecords();
  EXPECT_EQ(UnpackAddOnArchive(AsBytes(bytes), folder), UnpackResult::kWriteFailed);
  EXPECT_TRUE(TraceHasMessage("UnpackAddOnArchive - ERROR - entry cannot be written", "UnpackAddOnArchive"));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(fs::is_empty(small.path())) << "nothing of the unpacking stays";

  SmallFilesystem roomy(1024 * 1024);
  ASSERT_TRUE(roomy.mounted()) << roomy.why();
  const std::string again = roomy / "addon";
  fs::create_directories(again);
  EXPECT_EQ(UnpackAddOnArchive(AsBytes(bytes), again), UnpackResult::kUnpacked);
  EXPECT_EQ(fs::file_size(again + "/sub/big"), big.size());
  EXPECT_TRUE(fs::exists(again + "/last"));
  EXPECT_FALSE(fs::exists(roomy / "refused"));
}
#endif

}  // namespace
}  // namespace vorneth::testing
