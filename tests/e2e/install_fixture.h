// The fixture of the installation tests through the built host: a host
// with a page session, a scratch folder for packages made by vorneth-pack,
// "InstallAddOns" with its frames, and views of the store and of the files
// the host wrote. Packages are served from "file" URLs (BaseUrl) or by a
// test server (download_e2e_test.cpp).
#ifndef VORNETH_TESTS_E2E_INSTALL_FIXTURE_H_
#define VORNETH_TESTS_E2E_INSTALL_FIXTURE_H_

#include <gtest/gtest.h>
#include <json/value.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host_process.h"
#include "json/json_conversions.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {

using std::chrono::milliseconds;

inline constexpr milliseconds kAnswer{30000};
// An answer that first needs a whole package's worth of bytes read: under a
// sanitizer on a loaded machine that alone has taken over 30 s.
inline constexpr milliseconds kLargeAnswer{150000};
inline constexpr milliseconds kTool{60000};
inline constexpr milliseconds kSilence{300};
// Frames read while waiting for one answer, at most.
inline constexpr int kMaxFrames = 16;

inline constexpr char kPageUrl[] = "https://page.test/app";
inline constexpr char kPageOrigin[] = "https://page.test";
inline constexpr char kFileOrigin[] = "file://_null_.localdomain";
inline constexpr char kKey[] = VORNETH_TEST_PRIVATE_KEY;
// The 8-byte PNG signature and its Base64 text.
inline const std::string kIcon = "\x89PNG\r\n\x1a\n";
inline constexpr char kIconBase64[] = "iVBORw0KGgo=";
inline constexpr char kLibraryLoadFailed[] = "Vorneth::CreateAddOnInstance - Addon library load failed!!!";
inline constexpr char kCheckFailed[] = "Vorneth::CheckAddOnSignature failed.";

using Files = std::map<std::string, std::string>;

// Runs vorneth-pack; its standard output, or none (a test failure) when it
// did not succeed.
std::optional<std::string> RunPack(const std::vector<std::string>& arguments);
// Every entry under `root` (files, folders, links; links not followed).
std::set<std::string> Entries(const std::string& root);
bool IsLink(const std::string& path);
std::string Descriptor(const std::string& uuid, const std::string& version, const std::string& url);
// `text` parsed as JSON (a test failure when it is not).
Json::Value Parse(const std::string& text);

class InstallFixture : public ::testing::Test {
 protected:
  InstallFixture() : m_host(Options()) {}
  // A host whose XDG_DATA_HOME is the existing folder `dataHome`, left in
  // place (a small file system of a fault test).
  explicit InstallFixture(const std::string& dataHome) : m_host(Options(dataHome)) {}

  void SetUp() override {
    ASSERT_FALSE(m_root.path().empty());
    ASSERT_FALSE(m_traceFolder.path().empty());
    std::filesystem::create_directories(Packages());
    ASSERT_TRUE(m_host.Start()) << m_host.error();
    ASSERT_TRUE(m_host.Send(Create(kPageUrl, "1.0", "p")));
  }

  // The host traces into the recording library, whose records only this
  // build's own host can write.
  HostProcessOptions Options(const std::string& dataHome = "") const {
    HostProcessOptions options;
    options.data_home = dataHome;
    options.environment = {{"LD_LIBRARY_PATH", QUENLOG_RECORDER_DIR}, {"QUENLOG_RECORD_FILE", TraceFile()}};
    return options;
  }
  std::string TraceFile() const { return m_traceFolder / "records.txt"; }
  static bool TracesAreRecorded() { return HostUnderTestPath() == VORNETH_HOST_PATH; }
  bool HostTraced(const std::string& message) const {
    return ReadBytes(TraceFile()).find("\t\t" + message + "\n") != std::string::npos;
  }
  void ClearTrace() const { std::ofstream(TraceFile(), std::ios::trunc); }

  std::string Packages() const { return m_root / "pkgs"; }
  std::string BaseUrl() const { return HostFileUrl(Packages() + "/"); }
  std::string AddOnFolder(const std::string& uuid, const std::string& version) const {
    return m_host.data_directory() + "/addons/" + uuid + "/" + version;
  }

  // Packs `files` as add-on `uuid` `version` into pkgs/`package`.
  void PackFolder(const std::string& package, const std::string& uuid, const std::string& version, const Files& files,
                  const std::vector<std::string>& options = {}) {
    const std::string source = m_root / ("src-" + package);
    std::filesystem::create_directories(source);
    for (const auto& [name, content] : files) WriteBytes(source + "/" + name, content);
    std::vector<std::string> arguments = {"pack", "--key", kKey, "--uuid", uuid, "--version", version};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(source);
    arguments.push_back(Packages() + "/" + package);
    ASSERT_TRUE(RunPack(arguments).has_value());
  }

  // Signs `inner` as it is into pkgs/`package` (identity checks of the tool
  // off, so hostile identities can be packed).
  void PackInner(const std::string& package, const std::string& uuid, const std::string& version,
                 const std::string& inner) {
    const std::string innerPath = m_root / (package + ".inner.zip");
    WriteBytes(innerPath, inner);
    ASSERT_TRUE(RunPack({"pack", "--key", kKey, "--uuid", uuid, "--version", version, "--allow-unsafe-identity",
                         "--inner-archive", innerPath, Packages() + "/" + package})
                    .has_value());
  }

  // Sends "InstallAddOns" and returns the frames up to its answer, the
  // answer last.
  std::vector<Json::Value> Install(const std::string& base, const std::string& descriptors,
                                   const std::string& callbackId, milliseconds wait = kAnswer) {
    std::vector<Json::Value> frames;
    EXPECT_TRUE(m_host.Send(PageCommand("InstallAddOns", "[\"" + base + "\", " + descriptors + "]", callbackId, "p")));
    for (int i = 0; i < kMaxFrames; ++i) {
      const std::optional<std::string> frame = m_host.ReadFrame(wait);
      if (!frame) {
        ADD_FAILURE() << "no answer to InstallAddOns " << descriptors;
        break;
      }
      frames.push_back(Parse(*frame));
      if (frames.back()["callbackId"] == callbackId) break;
    }
    return frames;
  }
  // The answer's "response" to a list of packages that sends no event.
  std::string InstallFails(const std::string& descriptors) {
    const std::vector<Json::Value> frames = Install(BaseUrl(), "[" + descriptors + "]", "f");
    EXPECT_EQ(frames.size(), 1u) << "no event for a failed package";
    return frames.empty() ? "" : frames.back()["response"].toStyledString();
  }

  std::string Ask(const std::string& request) {
    EXPECT_TRUE(m_host.Send(request));
    return m_host.ReadFrame(kAnswer).value_or("");
  }
  int CreateInstanceError(const std::string& uuid, const std::string& version) {
    const Json::Value answer =
        Parse(Ask(PageCommand("CreateAddOnInstance", "[\"" + uuid + "\", \"" + version + "\"]", "c", "p")));
    EXPECT_EQ(answer["response"][0], "Error");
    return answer["response"][1].asInt();
  }

  // The store's add-on records; null while there is no store.
  Json::Value Records() const {
    Json::Value store;
    if (std::filesystem::exists(m_host.store_path())) {
      EXPECT_TRUE(ParseJson(ReadBytes(m_host.store_path()), store));
    }
    return store["installed"];
  }
  bool Recorded(const std::string& uuid) const {
    for (const Json::Value& record : Records()) {
      if (record["uuid"] == uuid) return true;
    }
    return false;
  }

  // The entries the host may have added under the roots since `before`:
  // the data folder, the store and its lock, the add-on's own folder and
  // the (empty) parents of its staging folder.
  void ExpectOnlyInside(const std::set<std::string>& before, const std::string& uuid, const std::string& version) {
    const std::string data = m_host.data_directory();
    const std::set<std::string> allowed = {data,
                                           data + "/vorneth.db",
                                           data + "/vorneth.db.lock",
                                           data + "/addons",
                                           data + "/addons/" + uuid,
                                           data + "/unpacking",
                                           data + "/unpacking/" + uuid};
    const std::string folder = AddOnFolder(uuid, version);
    for (const std::string& entry : Snapshot()) {
      if (before.count(entry) != 0) continue;
      EXPECT_FALSE(IsLink(entry)) << entry;
      EXPECT_TRUE(allowed.count(entry) != 0 || entry == folder || entry.starts_with(folder + "/"))
          << "written outside the add-on folder: " << entry;
    }
  }
  std::set<std::string> Snapshot() const {
    std::set<std::string> entries = Entries(m_root.path());
    entries.merge(Entries(m_host.data_home()));
    return entries;
  }

  ScratchDir m_root;
  ScratchDir m_traceFolder;
  HostProcess m_host;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_E2E_INSTALL_FIXTURE_H_
