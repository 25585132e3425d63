#include "platform/data_directory.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;

using testing::ScratchDir;

// Sets or unsets an environment variable for the life of the object.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvOverride() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Creates `root` holding `levels` folders "d", each inside the one before,
// one level at a time relative to the last (long paths are slow to resolve).
bool CreateNestedFolders(const std::string& root, int levels) {
  if (mkdir(root.c_str(), 0700) != 0) return false;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    const int next = mkdirat(fd, "d", 0700) == 0 ? openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = next;
  }
  if (fd < 0) return false;
  close(fd);
  return true;
}

TEST(GetDataDirectoryTest, UsesXdgDataHomeAndCreatesTheFolder) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string xdg = scratch / "xdg/data";
  EnvOverride xdg_env("XDG_DATA_HOME", xdg.c_str());
  EnvOverride home_env("HOME", (scratch / "home").c_str());

  std::string path;
  ASSERT_TRUE(GetDataDirectory(path));
  EXPECT_EQ(path, xdg + "/Vorneth");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_FALSE(fs::exists(scratch / "home"));
}

TEST(GetDataDirectoryTest, TrailingSeparatorsOfTheBaseAreDropped) {
  ScratchDir scratch;
  const std::string xdg = scratch / "xdg";
  EnvOverride xdg_env("XDG_DATA_HOME", (xdg + "//").c_str());

  std::string path;
  ASSERT_TRUE(GetDataDirectory(path));
  EXPECT_EQ(path, xdg + "/Vorneth");
}

TEST(GetDataDirectoryTest, FallsBackToHomeWhenXdgDataHomeIsUnusable) {
  ScratchDir scratch;
  EnvOverride home_env("HOME", scratch.path().c_str());
  const std::string expected = scratch.path() + "/.local/share/Vorneth";
  // Unset, empty and relative values are all ignored.
  const char* xdg_values[] = {nullptr, "", "relative/data"};
  for (const char* xdg : xdg_values) {
    EnvOverride xdg_env("XDG_DATA_HOME", xdg);
    std::string path;
    ASSERT_TRUE(GetDataDirectory(path)) << (xdg ? xdg : "(unset)");
    EXPECT_EQ(path, expected);
    EXPECT_TRUE(fs::is_directory(expected));
  }
  EXPECT_FALSE(fs::exists("relative"));
}

TEST(GetDataDirectoryTest, RecreatesTheFolderAfterItWasRemoved) {
  ScratchDir scratch;
  EnvOverride xdg_env("XDG_DATA_HOME", scratch.path().c_str());
  std::string first;
  ASSERT_TRUE(GetDataDirectory(first));
  WriteText(first + "/vorneth.db", "{}");
  fs::remove_all(first);
  ASSERT_FALSE(fs::exists(first));

  std::string second;
  ASSERT_TRUE(GetDataDirectory(second));
  EXPECT_EQ(second, first);
  EXPECT_TRUE(fs::is_directory(second));
  EXPECT_TRUE(fs::is_empty(second));
}

TEST(GetDataDirectoryTest, FailureLeavesTheOutputUnchanged) {
  ScratchDir scratch;
  WriteText(scratch / "file", "x");
  // The folder would have to be created inside a plain file.
  EnvOverride xdg_env("XDG_DATA_HOME", (scratch / "file").c_str());
  std::string path = "unchanged";
  EXPECT_FALSE(GetDataDirectory(path));
  EXPECT_EQ(path, "unchanged");
}

TEST(CreateDirectoryTreeTest, CreatesMissingParentsAndAcceptsExistingFolders) {
  ScratchDir scratch;
  const std::string nested = scratch / "a/b/c";
  EXPECT_TRUE(CreateDirectoryTree(nested));
  EXPECT_TRUE(fs::is_directory(nested));

  WriteText(nested + "/keep", "kept");
  EXPECT_TRUE(CreateDirectoryTree(nested));  // already there
  EXPECT_TRUE(CreateDirectoryTree(scratch / "a"));
  EXPECT_TRUE(fs::exists(nested + "/keep"));

  // Doubled and trailing separators name the same folders.
  EXPECT_TRUE(CreateDirectoryTree(scratch.path() + "//x//y/"));
  EXPECT_TRUE(fs::is_directory(scratch / "x/y"));
}

TEST(CreateDirectoryTreeTest, FailsWhereAPlainFileStands) {
  ScratchDir scratch;
  WriteText(scratch / "file", "x");
  EXPECT_FALSE(CreateDirectoryTree(scratch / "file"));
  EXPECT_FALSE(CreateDirectoryTree(scratch / "file/sub"));
  EXPECT_FALSE(CreateDirectoryTree(""));
  EXPECT_TRUE(fs::is_regular_file(scratch / "file"));
}

TEST(DeleteDirectoryTreeTest, DeletesNestedContent) {
  ScratchDir scratch;
  const std::string root = scratch / "tree";
  fs::create_directories(root + "/a/b/c");
  fs::create_directories(root + "/empty");
  WriteText(root + "/top", "1");
  WriteText(root + "/.hidden", "2");
  WriteText(root + "/a/b/c/deep", "3");
  // Enough entries that the folder is read in more than one batch while
  // entries are being removed from it.
  for (int i = 0; i < 300; ++i) WriteText(root + "/a/many_" + std::to_string(i), "x");

  EXPECT_TRUE(DeleteDirectoryTree(root));
  EXPECT_FALSE(fs::exists(root));
  EXPECT_TRUE(fs::is_directory(scratch.path()));
}

TEST(DeleteDirectoryTreeTest, RemovesLinksButNeverWhatTheyPointTo) {
  ScratchDir scratch;
  const std::string outside = scratch / "outside";
  fs::create_directories(outside + "/sub");
  WriteText(outside + "/precious", "keep me");
  WriteText(outside + "/sub/also", "keep me too");
  const std::string root = scratch / "tree";
  fs::create_directories(root + "/inner");
  fs::create_directory_symlink(outside, root + "/dir_link");
  fs::create_directory_symlink(outside, root + "/inner/dir_link");
  fs::create_symlink(outside + "/precious", root + "/file_link");
  fs::create_symlink(scratch / "nowhere", root + "/dangling");

  EXPECT_TRUE(DeleteDirectoryTree(root));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
  EXPECT_EQ(ReadText(outside + "/precious"), "keep me");
  EXPECT_EQ(ReadText(outside + "/sub/also"), "keep me too");
}

TEST(DeleteDirectoryTreeTest, ALinkAsTheTreeItselfIsRemovedAsALink) {
  ScratchDir scratch;
  const std::string target = scratch / "target";
  fs::create_directories(target);
  WriteText(target + "/precious", "x");
  const std::string link = scratch / "link";
  fs::create_directory_symlink(target, link);

  EXPECT_TRUE(DeleteDirectoryTree(link));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_TRUE(fs::is_regular_file(target + "/precious"));
}

TEST(DeleteDirectoryTreeTest, ReportsFailure) {
  ScratchDir scratch;
  EXPECT_FALSE(DeleteDirectoryTree(scratch / "missing"));
  EXPECT_FALSE(DeleteDirectoryTree(""));

  // A tree nested too deep to walk safely is refused, and the refusal at the
  // bottom reaches the caller.
  ASSERT_TRUE(CreateNestedFolders(scratch / "deep", 600));
  EXPECT_FALSE(DeleteDirectoryTree(scratch / "deep"));
  EXPECT_TRUE(fs::is_directory(scratch / "deep/d/d/d"));

  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  const std::string root = scratch / "tree";
  fs::create_directories(root + "/locked");
  WriteText(root + "/locked/stuck", "x");
  WriteText(root + "/loose", "x");
  chmod((root + "/locked").c_str(), 0500);
  EXPECT_FALSE(DeleteDirectoryTree(root));
  // What could be removed is gone; what could not stays.
  EXPECT_FALSE(fs::exists(root + "/loose"));
  EXPECT_TRUE(fs::exists(root + "/locked/stuck"));
  chmod((root + "/locked").c_str(), 0700);
}

}  // namespace
}  // namespace vorneth
