// Writing files and folders inside a folder: the names refused, files
// written in pieces and replaced, folders made on the way, and what is
// never created.
#include "platform/file_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(FileWriterTest, WritesAFileInPiecesAndReplacesAnOldOne) {
  ScratchDir root;
  fs::create_directories(root / "sub");
  std::ofstream(root / "sub/file") << "an older and longer content";
  std::unique_ptr<FileWriter> writer;
  ASSERT_TRUE(FileWriter::Create(root.path(), "sub/file", writer).ok());
  ASSERT_NE(writer, nullptr);
  for (const char* piece : {"one ", "two ", "", "three"}) ASSERT_TRUE(writer->Write(Bytes(piece)).ok());
  EXPECT_TRUE(writer->Finish().ok());
  EXPECT_FALSE(writer->Finish().ok()) << "once only";
  EXPECT_FALSE(writer->Write(Bytes("late")).ok());
  EXPECT_EQ(Read(root / "sub/file"), "one two three");
}

TEST(FileWriterTest, RefusesNamesThatLeaveOrNameNoFile) {
  ScratchDir root;
  fs::create_directories(root / "sub");
  std::vector<std::string> refused = {"",     "/abs", "../up",        "sub/../../up",        "sub/./x", ".", "sub/..",
                                      "sub/", "sub",  "missing/file", std::string("n\0l", 3)};
#ifdef _WIN32
  for (const char* name : {"\\abs", "sub\\..\\..\\up", "C:x", "file:stream"}) refused.push_back(name);
#endif
  for (const std::string& name : refused) {
    std::unique_ptr<FileWriter> writer;
    EXPECT_FALSE(FileWriter::Create(root.path(), name, writer).ok()) << name;
    EXPECT_EQ(writer, nullptr) << name;
  }
  EXPECT_EQ(root.Names(), (std::vector<std::string>{"sub"})) << "nothing created beside";
  EXPECT_TRUE(fs::is_empty(root / "sub"));
  EXPECT_TRUE(fs::is_directory(root / "sub")) << "a folder at the name is not replaced";
}

TEST(FileWriterTest, CreatesFolderTreesBelowAndNowhereElse) {
  ScratchDir root;
  fs::create_directories(root / "base");
  const std::string base = root / "base";
  EXPECT_TRUE(CreateDirectoryTreeBelow(base, "a/b//c/").ok());
  EXPECT_TRUE(fs::is_directory(base + "/a/b/c"));
  EXPECT_TRUE(CreateDirectoryTreeBelow(base, "a/b").ok()) << "an existing folder counts";
  std::ofstream(base + "/a/file") << "x";
  EXPECT_FALSE(CreateDirectoryTreeBelow(base, "a/file/c").ok()) << "a file on the way";
  for (const char* name : {"../up", "/abs", "a/../../up", ""}) {
    EXPECT_FALSE(CreateDirectoryTreeBelow(base, name).ok()) << name;
  }
  EXPECT_EQ(root.Names(), (std::vector<std::string>{"base"}));
  EXPECT_FALSE(CreateDirectoryTreeBelow(root / "missing", "a").ok()) << "the base is not made";
  EXPECT_EQ(root.Names(), (std::vector<std::string>{"base"}));
}

#ifndef _WIN32
TEST(FileWriterTest, FollowsNoLinkBelowTheBase) {
  ScratchDir root;
  fs::create_directories(root / "base");
  fs::create_directories(root / "elsewhere");
  std::ofstream(root / "elsewhere/target") << "kept";
  const std::string base = root / "base";
  fs::create_symlink(root / "elsewhere", base + "/folderlink");
  fs::create_symlink(root / "elsewhere/target", base + "/filelink");
  std::unique_ptr<FileWriter> writer;
  EXPECT_FALSE(FileWriter::Create(base, "folderlink/new", writer).ok());
  EXPECT_FALSE(CreateDirectoryTreeBelow(base, "folderlink/new").ok());
  EXPECT_FALSE(CreateDirectoryTreeBelow(base, "folderlink").ok());
  ASSERT_TRUE(FileWriter::Create(base, "filelink", writer).ok()) << "a link at the name is replaced";
  ASSERT_TRUE(writer->Write(Bytes("new")).ok());
  ASSERT_TRUE(writer->Finish().ok());
  EXPECT_FALSE(fs::is_symlink(base + "/filelink"));
  EXPECT_EQ(Read(base + "/filelink"), "new");
  EXPECT_EQ(Read(root / "elsewhere/target"), "kept");
  std::vector<std::string> elsewhere;
  for (const auto& entry : fs::directory_iterator(root / "elsewhere")) elsewhere.push_back(entry.path().filename());
  EXPECT_EQ(elsewhere, (std::vector<std::string>{"target"}));
}
#endif

}  // namespace
}  // namespace vorneth::testing
