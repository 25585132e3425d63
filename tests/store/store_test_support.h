// Test support for the store: a fixture that gives each test a data
// directory of its own, and helpers to look at the store file directly.
#ifndef VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_
#define VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <json/value.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "json/json_conversions.h"
#include "json/styled_writer.h"

namespace vorneth::testing {

// Points XDG_DATA_HOME at a new empty folder before the test's first store
// call and removes both afterwards. The store then lives in
// "<folder>/Vorneth/vorneth.db".
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorneth-store-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ASSERT_EQ(setenv("XDG_DATA_HOME", root_.c_str(), 1), 0);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string DataDirectory() const { return root_ + "/Vorneth"; }
  std::string StorePath() const { return DataDirectory() + "/vorneth.db"; }
  std::string LockPath() const { return DataDirectory() + "/vorneth.db.lock"; }

  // The store file's bytes, or nothing when there is no file.
  std::optional<std::string> StoreBytes() const {
    std::ifstream file(StorePath(), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // Puts `bytes` into the store file as a hand-edited file would be.
  void PutStoreBytes(const std::string& bytes) const {
    std::filesystem::create_directories(DataDirectory());
    std::ofstream file(StorePath(), std::ios::binary | std::ios::trunc);
    file << bytes;
    ASSERT_TRUE(file.good());
  }

 private:
  std::string root_;
};

inline Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(ParseJson(text, value)) << text;
  return value;
}

inline std::string Compact(const Json::Value& value) { return StyledWriter().write(value); }

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_STORE_STORE_TEST_SUPPORT_H_
