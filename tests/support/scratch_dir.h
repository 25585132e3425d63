// A fresh folder under the test temporary folder, removed with everything in
// it at the end (by the standard library, not by the code under test).
#ifndef VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_
#define VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vorneth::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "vorneth_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Empty when the folder could not be made.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // The names directly inside, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_SCRATCH_DIR_H_
