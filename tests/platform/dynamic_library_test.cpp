// Loading libraries and looking up their entry points, on every platform:
// the recording logging library of this build serves as the library.
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/data_directory.h"
#include "platform/trace_call.h"

namespace vorneth {
namespace {

using LevelEntry = int32_t(VORNETH_TRACE_CALL*)();

// One case, in this order: the library is not loaded before it.
TEST(DynamicLibraryTest, LoadsOnceAndLooksUpTypedEntryPoints) {
  const std::string path = TRACE_LIBRARY_PATH;
  const std::string name = std::filesystem::path(path).filename().string();
  EXPECT_FALSE(FindLoadedLibrary(name)) << "nothing loads it before this test";

  const LibraryHandle library = LoadDynamicLibrary(path);
  ASSERT_TRUE(library) << path;
  EXPECT_EQ(FindLoadedLibrary(name), library);
  EXPECT_EQ(LoadDynamicLibrary(path), library) << "loading again gives the same library";

  const auto level = library.LookupSymbol<LevelEntry>("qnLogLevel");
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level(), 0);  // the recorder outputs every message
  EXPECT_NE(library.LookupAddress("qnLogStruct"), nullptr);
  EXPECT_EQ(library.LookupSymbol<LevelEntry>("qnNoSuchEntry"), nullptr);
  EXPECT_EQ(library.LookupAddress(""), nullptr);
  EXPECT_EQ(library.LookupAddress(nullptr), nullptr);
}

TEST(DynamicLibraryTest, MissingLibrariesGiveNoLibrary) {
  const LibraryHandle none;
  EXPECT_FALSE(none);
  EXPECT_EQ(none.LookupAddress("qnLogLevel"), nullptr) << "no handle never means the whole process";
  EXPECT_FALSE(LoadDynamicLibrary(""));
  EXPECT_FALSE(LoadDynamicLibrary(std::string(TRACE_LIBRARY_PATH) + ".missing"));
  EXPECT_FALSE(LoadDynamicLibrary("vorneth-no-such-library"));
  EXPECT_FALSE(FindLoadedLibrary(""));
  EXPECT_FALSE(FindLoadedLibrary("vorneth-no-such-library"));
}

TEST(DynamicLibraryTest, ExecutableDirectoryHoldsThisTest) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.back(), kPathSeparator);
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    found |= entry.path().stem().string() == "dynamic_library_test";
  }
  EXPECT_TRUE(found) << directory;
}

}  // namespace
}  // namespace vorneth
