// The POSIX side of the data directory: the XDG lookup (through the
// environment seam, so no test touches the process environment), links and
// permissions inside deleted trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/data_directory.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;

using testing::ScratchDir;

// An environment of the given variables only.
EnvironmentLookup Environment(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const char* name) -> std::optional<std::string> {
    const auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  };
}

// Removes `name` from the current folder at the end of the scope, whatever
// happened: a lookup that wrongly used a relative value would create it.
class RemovedAtEnd {
 public:
  explicit RemovedAtEnd(std::string name) : m_name(std::move(name)) {}
  ~RemovedAtEnd() {
    std::error_code ignored;
    fs::remove_all(m_name, ignored);
  }
  RemovedAtEnd(const RemovedAtEnd&) = delete;
  RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;
  const std::string& name() const { return m_name; }

 private:
  std::string m_name;
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
  std::string path;
  ASSERT_TRUE(GetDataDirectoryWith(Environment({{"XDG_DATA_HOME", xdg}, {"HOME", scratch / "home"}}), path));
  EXPECT_EQ(path, xdg + "/Vorneth");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_FALSE(fs::exists(scratch / "home"));
}

TEST(GetDataDirectoryTest, TrailingSeparatorsOfTheBaseAreDropped) {
  ScratchDir scratch;
  const std::string xdg = scratch / "xdg";
  std::string path;
  ASSERT_TRUE(GetDataDirectoryWith(Environment({{"XDG_DATA_HOME", xdg + "//"}}), path));
  EXPECT_EQ(path, xdg + "/Vorneth");
}

TEST(GetDataDirectoryTest, FallsBackToHomeWhenXdgDataHomeIsUnusable) {
  ScratchDir scratch;
  const std::string expected = scratch.path() + "/.local/share/Vorneth";
  // A relative name no other run uses, removed even when the test fails.
  RemovedAtEnd relative("vorneth_relative_" + std::to_string(std::random_device()()));
  // Unset, empty and relative values are all ignored.
  for (const std::optional<std::string>& xdg :
       {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>(relative.name())}) {
    std::map<std::string, std::string> variables = {{"HOME", scratch.path()}};
    if (xdg) variables["XDG_DATA_HOME"] = *xdg;
    std::string path;
    ASSERT_TRUE(GetDataDirectoryWith(Environment(variables), path)) << xdg.value_or("(unset)");
    EXPECT_EQ(path, expected);
    EXPECT_TRUE(fs::is_directory(expected));
  }
  EXPECT_FALSE(fs::exists(relative.name()));
}

TEST(GetDataDirectoryTest, FailureLeavesTheOutputUnchanged) {
  ScratchDir scratch;
  WriteText(scratch / "file", "x");
  // The folder would have to be created inside a plain file.
  std::string path = "unchanged";
  EXPECT_FALSE(GetDataDirectoryWith(Environment({{"XDG_DATA_HOME", scratch / "file"}}), path));
  EXPECT_EQ(path, "unchanged");
}

TEST(GetDataDirectoryTest, ReadsTheProcessEnvironmentByDefault) {
  std::string fromProcess, fromSeam;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if ((xdg == nullptr || xdg[0] != '/') && (home == nullptr || home[0] != '/')) GTEST_SKIP() << "no data folder";
  std::map<std::string, std::string> variables;
  if (xdg != nullptr) variables["XDG_DATA_HOME"] = xdg;
  if (home != nullptr) variables["HOME"] = home;
  ASSERT_TRUE(GetDataDirectory(fromProcess));
  ASSERT_TRUE(GetDataDirectoryWith(Environment(variables), fromSeam));
  EXPECT_EQ(fromProcess, fromSeam);
}

TEST(CreateDirectoryTreeTest, FailsWhereAPlainFileStands) {
  ScratchDir scratch;
  WriteText(scratch / "file", "x");
  EXPECT_FALSE(CreateDirectoryTree(scratch / "file"));
  EXPECT_TRUE(fs::is_regular_file(scratch / "file"));
}

TEST(CreateDirectoryTreeTest, DoubledAndTrailingSeparatorsNameTheSameFolders) {
  ScratchDir scratch;
  EXPECT_TRUE(CreateDirectoryTree(scratch.path() + "//x//y/"));
  EXPECT_TRUE(fs::is_directory(scratch / "x/y"));
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

TEST(DeleteDirectoryTreeTest, ReportsFailureForTreesItCannotFinish) {
  ScratchDir scratch;
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
