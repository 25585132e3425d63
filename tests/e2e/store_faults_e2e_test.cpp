// Faults around the store and the data folder, through the built host: a
// peer process that takes the store's lock and hangs, a data folder whose
// disk is full, and a data folder that turns read-only. In each the host
// answers every request, reports a failed store change with its usual
// answer (the store's failure value is traced), and leaves the files on
// disk as they were. The suites are StoreFaultsTest (any host: a Windows
// host under the emulator takes its lock holder from the program that
// VORNETH_WINDOWS_LOCK_PROBE names) and DataFolderFaultsTest (a private
// tmpfs as XDG_DATA_HOME: Linux hosts, and root, only).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "host_process.h"
#include "install_fixture.h"
#include "support/file_bytes.h"
#include "support/fill_filesystem.h"
#include "support/json_print.h"
#include "support/small_filesystem.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kLockedMessage[] = "VornethDB - ERROR - the store is locked by another process";
constexpr char kStoreFailed[] = "VornethDB - ERROR - store operation failed";
constexpr char kDeniedStore[] = R"({"blacklisted":["https://page.test"]})";

// Every regular file under `root` with its bytes, and every other entry
// with an empty text: what "nothing changed on disk" compares.
std::map<std::string, std::string> Contents(const std::string& root) {
  std::map<std::string, std::string> contents;
  for (const std::string& entry : Entries(root)) {
    contents[entry] = fs::is_regular_file(fs::symlink_status(entry)) ? ReadBytes(entry) : std::string();
  }
  return contents;
}

// Leftovers of an atomic write that did not remove its temporary file.
std::vector<std::string> TemporaryFiles(const std::string& folder) {
  std::vector<std::string> found;
  for (const std::string& entry : Entries(folder)) {
    if (entry.ends_with(".tmp")) found.push_back(entry);
  }
  return found;
}

// The answer frame to `request` (frames before it, such as events, are
// skipped): null when none came.
Json::Value AnswerTo(HostProcess& host, const std::string& request, const std::string& callbackId) {
  EXPECT_TRUE(host.Send(request)) << host.error();
  for (int i = 0; i < kMaxFrames; ++i) {
    const std::optional<Json::Value> frame = host.ReadJson(kAnswer);
    if (!frame) break;
    if ((*frame)["callbackId"] == callbackId) return *frame;
  }
  ADD_FAILURE() << "no answer to " << request;
  return Json::Value();
}

class FaultFixture : public InstallFixture {
 protected:
  std::string Store() const { return ReadBytes(m_host.store_path()); }
  Json::Value HostAnswer(const std::string& command, const std::string& params = "[]") {
    const std::string callbackId = "h" + std::to_string(++m_calls);
    return AnswerTo(m_host, HostCommand(command, params, callbackId, "p"), callbackId);
  }
  Json::Value PageAnswer(const std::string& command, const std::string& params = "[]") {
    const std::string callbackId = "g" + std::to_string(++m_calls);
    return AnswerTo(m_host, PageCommand(command, params, callbackId, "p"), callbackId);
  }
  // The host still answers, and with the right text.
  void ExpectAnswering() { EXPECT_TRUE(HostAnswer("GetHostVersion")["response"].isString()); }
  void ExpectTraced(const char* message) const {
    if (TracesAreRecorded()) {
      EXPECT_TRUE(HostTraced(message)) << message;
    }
  }

  int m_calls = 0;
};

// The lock holder of the host under test, and how it names the lock file.
struct LockHolderProgram {
  std::vector<std::string> m_command;  // launcher words and the program
  std::string m_pathPrefix;            // "Z:" for a Windows program
};

std::optional<LockHolderProgram> LockHolder() {
  if (HostLauncher().empty()) return LockHolderProgram{{FILE_LOCK_PROBE_PATH}, ""};
  const char* windows = getenv("VORNETH_WINDOWS_LOCK_PROBE");
  if (windows == nullptr) return std::nullopt;
  LockHolderProgram program{HostLauncher(), "Z:"};
  program.m_command.push_back(windows);
  return program;
}

using StoreFaultsTest = FaultFixture;

TEST_F(StoreFaultsTest, APeerThatHoldsTheStoreLockAndHangsDelaysChangesOnlyABoundedTime) {
  const std::optional<LockHolderProgram> holderProgram = LockHolder();
  if (!holderProgram) GTEST_SKIP() << "VORNETH_WINDOWS_LOCK_PROBE names no lock holder for the Windows host";
  EXPECT_EQ(HostAnswer("SetDomainDenied")["response"], kPageOrigin);
  ASSERT_EQ(Store(), kDeniedStore);
  const std::map<std::string, std::string> before = Contents(m_host.data_directory());

  // The peer: holds the lock on the store's lock file until its input ends.
  ChildProcess holder;
  ChildProcessOptions options;
  options.command = holderProgram->m_command;
  options.command.push_back(holderProgram->m_pathPrefix + m_host.data_directory() + "/vorneth.db.lock");
  ASSERT_TRUE(holder.Start(options)) << holder.error();
  std::string report;
  for (int reads = 0; reads < 100 && report.find('\n') == std::string::npos; ++reads) {
    if (holder.Read(report, kAnswer) != ReadStatus::kData) break;
  }
  ASSERT_EQ(report.substr(0, report.find_first_of("\r\n")), "locked");

  // A change answers as always after the bounded wait, and writes nothing.
  ClearTrace();
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);
  ExpectTraced(kLockedMessage);
  EXPECT_EQ(HostAnswer("SetPermissionMode", R"(["whitelist"])")["response"], "whitelist");
  EXPECT_EQ(Contents(m_host.data_directory()), before);
  // Reads do not wait for the lock, and the host goes on answering.
  EXPECT_EQ(HostAnswer("ReadVornethPermListDB")["response"], Parse(R"(["https://page.test"])"));
  ExpectAnswering();

  // Once the peer goes, changes work again.
  holder.CloseInput();
  EXPECT_EQ(holder.Wait(kAnswer), 0);
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);
  EXPECT_EQ(Store(), R"({"blacklisted":[]})");
}

// The host's data folder on a small file system of its own.
class DataFolderFaultsTest : public FaultFixture {
 protected:
  static constexpr uint64_t kDiskBytes = 4 * 1024 * 1024;

  DataFolderFaultsTest() { m_host.options().data_home = m_disk.path(); }
  ~DataFolderFaultsTest() override {
    // The host first, so that no process writes to the folder as it goes.
    m_host.Kill();
  }

  void SetUp() override {
    if (!m_disk.mounted()) GTEST_SKIP() << m_disk.why();
    if (!FixedDataDirectory().empty()) GTEST_SKIP() << "the host under test keeps its data in a folder of its own";
    InstallFixture::SetUp();
  }

  SmallFilesystem m_disk{kDiskBytes};
};

TEST_F(DataFolderFaultsTest, OnAFullDiskAChangeFailsAndTheStoreKeepsItsBytes) {
  EXPECT_EQ(HostAnswer("SetDomainDenied")["response"], kPageOrigin);
  ASSERT_EQ(Store(), kDeniedStore);
  ASSERT_TRUE(FillFilesystem(m_disk / "filler", 2 * kDiskBytes));
  const std::map<std::string, std::string> before = Contents(m_host.data_directory());

  ClearTrace();
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);
  EXPECT_EQ(HostAnswer("RemoveFromPermList", R"(["https://page.test", "blacklisted"])")["response"],
            Parse(R"(["https://page.test", "blacklisted"])"));
  ExpectTraced(kStoreFailed);
  EXPECT_EQ(Contents(m_host.data_directory()), before);
  EXPECT_EQ(TemporaryFiles(m_disk.path()), std::vector<std::string>{});
  EXPECT_EQ(HostAnswer("IsDomainBlocked")["response"], 1);
  ExpectAnswering();

  fs::remove(m_disk / "filler");
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);
  EXPECT_EQ(Store(), R"({"blacklisted":[]})");
}

TEST_F(DataFolderFaultsTest, AReadOnlyDataFolderAnswersEveryCommandAndLosesNothing) {
  // An add-on installed while the folder could still be written.
  const std::string minimal = std::string(VORNETH_TEST_ADDONS_DIR) + "/minimal";
  Files files;
  for (const std::string& entry : Entries(minimal)) {
    if (fs::is_regular_file(fs::symlink_status(entry))) files[fs::path(entry).filename().string()] = ReadBytes(entry);
  }
  ASSERT_FALSE(files.empty()) << "no built variant in " << minimal;
  PackFolder("kept.pkg", "{kept}", "1.0", files);
  PackFolder("new.pkg", "{new}", "1.0", files);
  std::vector<Json::Value> frames = Install(BaseUrl(), "[" + Descriptor("{kept}", "1.0", "kept.pkg") + "]", "i");
  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(frames.back()["response"], Parse("[200]"));
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);

  const Json::Value permissions = HostAnswer("ReadVornethPermListDB")["response"];
  const std::map<std::string, std::string> before = Contents(m_disk.path());
  ASSERT_TRUE(m_disk.SetReadOnly(true));

  // Host commands: reads answer from the store, changes answer as always.
  EXPECT_EQ(HostAnswer("GetHostVersion")["response"].isString(), true);
  EXPECT_EQ(HostAnswer("ReadVornethAddOnListDB")["response"][0]["uuid"], "{kept}");
  EXPECT_EQ(HostAnswer("ReadVornethPermListDB")["response"], permissions);
  EXPECT_EQ(HostAnswer("GetDomain")["response"], kPageOrigin);
  EXPECT_EQ(HostAnswer("IsDomainBlocked")["response"], 0);
  EXPECT_EQ(HostAnswer("IsWhitelistMode")["response"], 0);
  EXPECT_EQ(HostAnswer("SetDomainDenied")["response"], kPageOrigin);
  EXPECT_EQ(HostAnswer("SetDomainAllowed")["response"], kPageOrigin);
  EXPECT_EQ(HostAnswer("RemoveFromPermList", R"(["https://page.test", "whitelisted"])")["response"],
            Parse(R"(["https://page.test", "whitelisted"])"));
  EXPECT_EQ(HostAnswer("SetPermissionMode", R"(["whitelist"])")["response"], "whitelist");
  EXPECT_EQ(HostAnswer("IsDomainBlocked")["response"], 0) << "the refused mode change took effect";

  // Page commands.
  EXPECT_EQ(PageAnswer("GetVersion")["response"][0], "0x020F0000");
  EXPECT_EQ(PageAnswer("RegisterEvent", R"(["AddOnInstallFinishEvent"])")["response"], Parse("[true]"));
  // A new package cannot be unpacked: it fails with its result code (not
  // success, not "already installed"), with no event and no record.
  frames = Install(BaseUrl(), "[" + Descriptor("{new}", "1.0", "new.pkg") + "]", "n");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.size(), 1u) << "an event for a package that was not installed";
  const Json::Value answer = frames.back()["response"];
  EXPECT_TRUE(answer.size() == 2 && answer[0] == "Error" && answer[1].isInt()) << frames.back().toStyledString();
  // The installed one is reported as installed.
  frames = Install(BaseUrl(), "[" + Descriptor("{kept}", "1.0", "kept.pkg") + "]", "k");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back()["response"], Parse("[0]"));
  // Its instances work: creating one reads the folder, writes nothing.
  const Json::Value created = PageAnswer("CreateAddOnInstance", R"(["{kept}", "1.0"])")["response"];
  ASSERT_TRUE(created.isArray() && created[0].isInt() && created[0].asInt() >= 0) << created.toStyledString();
  const std::string id = std::to_string(created[0].asInt());
  EXPECT_EQ(PageAnswer("InvokeAddOnInstance", "[" + id + R"(, "echo", "[1]"])")["response"], Parse("[1]"));
  EXPECT_EQ(HostAnswer("GetActiveAddOnList")["response"].size(), 1u);
  EXPECT_EQ(PageAnswer("DisposeAddOnInstance", "[" + id + R"(, "", ""])")["response"], Parse("[true]"));
  // A removal that cannot change the store answers with a result code and
  // removes none of the files that the store still records.
  EXPECT_TRUE(HostAnswer("UninstallAddOn", R"(["{kept}", "1.0"])")["response"].isInt());
  ExpectAnswering();

  // Nothing was written, nothing was lost.
  EXPECT_EQ(Contents(m_disk.path()), before);

  // Writable again: the add-on is still there and works, and the host
  // ends as usual.
  ASSERT_TRUE(m_disk.SetReadOnly(false));
  const Json::Value again = PageAnswer("CreateAddOnInstance", R"(["{kept}", "1.0"])")["response"];
  EXPECT_TRUE(again.isArray() && again[0].isInt() && again[0].asInt() >= 0) << again.toStyledString();
  m_host.CloseInput();
  EXPECT_EQ(m_host.WaitExit(kAnswer), 0);
}

}  // namespace
}  // namespace vorneth::testing
