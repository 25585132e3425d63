#include "install_fixture.h"

#include "common/child_process.h"
#include "json/json_conversions.h"

namespace vorneth::testing {

namespace fs = std::filesystem;

// Runs vorneth-pack; its standard output, or none (a test failure) when it
// did not succeed.
std::optional<std::string> RunPack(const std::vector<std::string>& arguments) {
  ChildProcessOptions options;
  options.command = {VORNETH_PACK_PATH};
  options.command.insert(options.command.end(), arguments.begin(), arguments.end());
  ChildProcess child;
  if (!child.Start(options)) {
    ADD_FAILURE() << child.error();
    return std::nullopt;
  }
  child.CloseInput();
  std::string out;
  for (int reads = 0; reads < 1000 && child.Read(out, kTool) == ReadStatus::kData; ++reads) {
  }
  const std::optional<int> status = child.Wait(kTool);
  if (status != 0) {
    std::string line;
    for (const std::string& argument : arguments) line += " " + argument;
    ADD_FAILURE() << "vorneth-pack" << line << " ended with " << status.value_or(-1);
    return std::nullopt;
  }
  return out;
}

// Every entry under `root` (files, folders, links; links not followed).
std::set<std::string> Entries(const std::string& root) {
  std::set<std::string> entries;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    entries.insert(it->path().string());
  }
  return entries;
}

bool IsLink(const std::string& path) {
  std::error_code error;
  return fs::is_symlink(fs::symlink_status(path, error));
}

std::string Descriptor(const std::string& uuid, const std::string& version, const std::string& url) {
  return R"({"packageURL":")" + url + R"(","packageUUID":")" + uuid + R"(","packageVersion":")" + version + R"("})";
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(ParseJson(text, value)) << text;
  return value;
}

}  // namespace vorneth::testing
