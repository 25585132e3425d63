// The data directory and directory trees, on every platform: the same
// cases run on Linux and, cross-built, on Windows under the emulator.
#include "platform/data_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/scratch_dir.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;

using testing::ScratchDir;

// `names` joined under `base` with the platform's separator.
std::string Join(const std::string& base, std::initializer_list<const char*> names) {
  fs::path path(base);
  for (const char* name : names) path /= name;
  return path.string();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(fs::path(path), std::ios::binary) << text;
}

// Where the platform reads the environment (POSIX), the lookup is pointed
// into a scratch folder; Windows asks the shell for its known folder, so
// there the real data directory is used, and removed at the end only when it
// was not in use before.
TEST(GetDataDirectoryTest, EndsInTheHostsFolderAndIsRecreatedAfterRemoval) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const EnvironmentLookup environment = [&](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "XDG_DATA_HOME") return scratch.path();
    return std::nullopt;
  };
  std::string first;
  ASSERT_TRUE(GetDataDirectoryWith(environment, first));
  ASSERT_TRUE(fs::is_directory(first));
  EXPECT_EQ(fs::path(first).filename().string(), kDataFolderName);
  EXPECT_NE(first.back(), kPathSeparator);
  if (!fs::is_empty(first)) GTEST_SKIP() << "the data directory is in use; not removing it";

  fs::remove_all(first);
  ASSERT_FALSE(fs::exists(first));
  std::string second;
  ASSERT_TRUE(GetDataDirectoryWith(environment, second));
  EXPECT_EQ(second, first);
  EXPECT_TRUE(fs::is_directory(second));
  EXPECT_TRUE(fs::is_empty(second));
  fs::remove(second);
}

TEST(CreateDirectoryTreeTest, CreatesMissingParentsAndAcceptsExistingFolders) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string nested = Join(scratch.path(), {"a", "b", "c"});
  EXPECT_TRUE(CreateDirectoryTree(nested));
  EXPECT_TRUE(fs::is_directory(nested));

  WriteText(Join(nested, {"keep"}), "kept");
  EXPECT_TRUE(CreateDirectoryTree(nested));  // already there
  EXPECT_TRUE(CreateDirectoryTree(scratch / "a"));
  EXPECT_TRUE(fs::exists(Join(nested, {"keep"})));
}

// A plain file at the path itself counts as "exists" for the Windows shell;
// the POSIX side refuses it (data_directory_posix_test.cpp).
TEST(CreateDirectoryTreeTest, FailsBelowAPlainFile) {
  ScratchDir scratch;
  WriteText(scratch / "file", "x");
  EXPECT_FALSE(CreateDirectoryTree(Join(scratch.path(), {"file", "sub"})));
  EXPECT_FALSE(CreateDirectoryTree(""));
  EXPECT_TRUE(fs::is_regular_file(scratch / "file"));
}

TEST(DeleteDirectoryTreeTest, DeletesNestedContent) {
  ScratchDir scratch;
  const std::string root = scratch / "tree";
  fs::create_directories(Join(root, {"a", "b", "c"}));
  fs::create_directories(Join(root, {"empty"}));
  WriteText(Join(root, {"top"}), "1");
  WriteText(Join(root, {".hidden"}), "2");
  WriteText(Join(root, {"a", "b", "c", "deep"}), "3");
  // Enough entries that the folder is read in more than one batch while
  // entries are being removed from it.
  for (int i = 0; i < 300; ++i) WriteText(Join(root, {"a"}) + kPathSeparator + "many_" + std::to_string(i), "x");

  EXPECT_TRUE(DeleteDirectoryTree(root));
  EXPECT_FALSE(fs::exists(root));
  EXPECT_TRUE(fs::is_directory(scratch.path()));
}

TEST(DeleteDirectoryTreeTest, ReportsFailure) {
  ScratchDir scratch;
  EXPECT_FALSE(DeleteDirectoryTree(scratch / "missing"));
  EXPECT_FALSE(DeleteDirectoryTree(""));
}

// The installer's staging folder is renamed into place: the whole tree moves
// in one step; a name taken by a folder with content, or a missing source,
// fails and leaves both where they were.
TEST(RenameDirectoryTest, MovesAWholeTreeAndNeverReplacesAFolder) {
  ScratchDir scratch;
  const std::string from = Join(scratch.path(), {"staging", "1.0"});
  fs::create_directories(Join(from, {"sub"}));
  WriteText(Join(from, {"sub", "file"}), "content");
  fs::create_directories(Join(scratch.path(), {"addons"}));
  const std::string to = Join(scratch.path(), {"addons", "1.0"});

  ASSERT_TRUE(RenameDirectory(from, to));
  EXPECT_FALSE(fs::exists(from));
  std::ifstream in(fs::path(Join(to, {"sub", "file"})), std::ios::binary);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "content");

  const std::string taken = Join(scratch.path(), {"taken"});
  fs::create_directories(Join(taken, {"kept"}));
  EXPECT_FALSE(RenameDirectory(to, taken));
  EXPECT_TRUE(fs::exists(Join(to, {"sub", "file"})));
  EXPECT_TRUE(fs::is_directory(Join(taken, {"kept"})));

  EXPECT_FALSE(RenameDirectory(Join(scratch.path(), {"missing"}), Join(scratch.path(), {"other"})));
  EXPECT_FALSE(fs::exists(Join(scratch.path(), {"other"})));
  EXPECT_FALSE(RenameDirectory("", to));
  EXPECT_FALSE(RenameDirectory(to, ""));
  EXPECT_TRUE(fs::is_directory(to));
}

}  // namespace
}  // namespace vorneth
