// Stored and prompted proxy credentials against real parts: a private
// session bus (dbus-daemon) with gnome-keyring-daemon serving the Secret
// Service from scratch folders, and stand-in dialog programs first on the
// search path. The calls read the environment, so each runs in the probe
// program, started with an environment of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "support/file_bytes.h"
#include "support/private_desktop.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

using testing::Environment;
using testing::RunToEnd;

constexpr auto kWait = testing::kDesktopWait;
constexpr char kTarget[] = "proxy.example:8080";
constexpr char kMessage[] = "--text=Please provide authentication credential for proxy.example:8080.";

class ProxyCredentialsTest : public ::testing::Test, protected testing::PrivateDesktop {
 protected:
  void SetUp() override { ASSERT_FALSE(HasFatalFailure()) << "the desktop session did not start"; }
  std::optional<std::string> Probe(const std::string& call, const std::string& target,
                                   const Environment& environment) const {
    return RunToEnd({PROXY_CREDENTIALS_PROBE_PATH, call, target}, environment);
  }
};

TEST_F(ProxyCredentialsTest, ReadsTheStoredItemOfItsTargetOnly) {
  Store(kTarget, "alice", "pa ss|word");
  Store("other.example:3128", "bob", "other");
  EXPECT_EQ(Probe("read", kTarget, Session()), "found\nalice\npa ss|word\n");
  EXPECT_EQ(Probe("read", "other.example:3128", Session()), "found\nbob\nother\n");
  EXPECT_EQ(Probe("read", "proxy.example:8081", Session()), "none\n");
  EXPECT_EQ(Probe("read", "", Session()), "none\n");
  // The bus found by its socket in the runtime folder alone.
  Environment by_socket = Session();
  by_socket.emplace_back("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  EXPECT_EQ(Probe("read", kTarget, by_socket), "found\nalice\npa ss|word\n");
}

// One process reads, loses the bus and reads again once the bus and the
// keyring are back: nothing of the first connection is kept, and losing the
// bus does not end the process.
TEST_F(ProxyCredentialsTest, AProcessOutlivesItsBusAndReadsFromTheNextOne) {
  Store(kTarget, "alice", "secret");
  ChildProcess probe;
  ASSERT_TRUE(probe.Start({{PROXY_CREDENTIALS_PROBE_PATH, "reads", "-"}, Session(), {}})) << probe.error();
  std::string output;
  const auto read = [&](const std::string& expected) {
    EXPECT_TRUE(probe.Write(std::string(kTarget) + "\n"));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (output.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
      if (probe.Read(output, std::chrono::milliseconds(200)) == ReadStatus::kEndOfStream) break;
    }
    EXPECT_EQ(output, expected);
    output.clear();
  };
  read("found\nalice\nsecret\n");
  StopSession();
  read("none\n");
  StartSession();
  read("found\nalice\nsecret\n");
  probe.CloseInput();
  EXPECT_EQ(probe.Wait(kWait), 0);
}

TEST_F(ProxyCredentialsTest, WithoutABusNothingIsReadAndNoBusIsLaunched) {
  Store(kTarget, "alice", "secret");
  Dialog("dbus-launch", {});
  Environment no_bus = Session();
  no_bus.emplace_back("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  no_bus.emplace_back("XDG_RUNTIME_DIR", Folder("empty"));
  no_bus.emplace_back("PATH", Folder("bin") + ":/usr/bin:/bin");
  EXPECT_EQ(Probe("read", kTarget, no_bus), "none\n");
  no_bus.emplace_back("DBUS_SESSION_BUS_ADDRESS", "autolaunch:");
  EXPECT_EQ(Probe("read", kTarget, no_bus), "none\n");
  EXPECT_FALSE(Called(0)) << "a bus was launched";
}

TEST_F(ProxyCredentialsTest, ALockedKeyringWithNobodyToUnlockItReadsNothing) {
  Store(kTarget, "alice", "secret");
  ASSERT_TRUE(
      RunToEnd({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
                "org.freedesktop.Secret.Service.Lock", "array:objpath:/org/freedesktop/secrets/collection/login"},
               Session()));
  EXPECT_EQ(Probe("read", kTarget, Session()), "none\n");
}

TEST_F(ProxyCredentialsTest, WithoutADisplayNoDialogIsShown) {
  Dialog("zenity", {{"alice\nsecret\nYes\n", 0}});
  Environment no_display = Desktop();
  no_display.emplace_back("DISPLAY", "");
  EXPECT_EQ(Probe("prompt", kTarget, no_display), "cancelled\n");
  EXPECT_FALSE(Called(0));
  Environment no_dialog = Desktop();
  no_dialog.emplace_back("PATH", Folder("empty"));
  EXPECT_EQ(Probe("prompt", kTarget, no_dialog), "cancelled\n");
}

TEST_F(ProxyCredentialsTest, ZenityFormIsAskedAndItsAnswerRead) {
  Dialog("zenity", {{"alice\npa ss|word\nNo\n", 0}});
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\nalice\npa ss|word\n");
  const std::vector<std::string> call = Call(0);
  ASSERT_GE(call.size(), 3u);
  EXPECT_EQ(call[0], "zenity");
  EXPECT_EQ(call[1], "--forms");
  const auto has = [&](const std::string& argument) {
    return std::find(call.begin(), call.end(), argument) != call.end();
  };
  EXPECT_TRUE(has("--title=Proxy Authentication - Vorneth"));
  EXPECT_TRUE(has(kMessage));
  EXPECT_TRUE(has("--add-password=Password"));
  EXPECT_TRUE(has("--separator=\n"));
  EXPECT_FALSE(Called(1));
  // Not asked to remember: nothing was stored.
  EXPECT_EQ(Probe("read", kTarget, Session()), "none\n");
}

// zenity leaves a combo nobody touched empty: the form still answers, and
// nothing is remembered.
TEST_F(ProxyCredentialsTest, AnUntouchedRememberChoiceAnswersWithoutStoring) {
  Dialog("zenity", {{"alice\nsecret\n\n", 0}});
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\nalice\nsecret\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "none\n");
}

TEST_F(ProxyCredentialsTest, CancelledOrEmptyAnswersGiveNothing) {
  Dialog("zenity", {{"alice\nsecret\nYes\n", 1}, {"\nsecret\nYes\n", 0}, {"garbage", 0}});
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "cancelled\n");
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "cancelled\n");
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "cancelled\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "none\n");
}

TEST_F(ProxyCredentialsTest, ARememberedAnswerIsTheStoredCredentialAndReplacesTheOldOne) {
  Store(kTarget, "old", "old secret");
  Dialog("zenity", {{"bob\nsecret two\nYes\n", 0}, {"carol\nthird & <last>\nYes\n", 0}});
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\nbob\nsecret two\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "found\nbob\nsecret two\n");
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\ncarol\nthird & <last>\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "found\ncarol\nthird & <last>\n");
  const std::optional<std::string> items = RunToEnd({"secret-tool", "search", "--all", "target", kTarget}, Session());
  ASSERT_TRUE(items);
  EXPECT_EQ(std::count(items->begin(), items->end(), '['), 1) << *items;
}

TEST_F(ProxyCredentialsTest, AnEmptyTargetIsAskedForAndRemembered) {
  Dialog("zenity", {{"dave\nsecret\nYes\n", 0}});
  EXPECT_EQ(Probe("prompt", "", Desktop()), "answered\ndave\nsecret\n");
  const std::vector<std::string> call = Call(0);
  EXPECT_NE(std::find(call.begin(), call.end(), "--text=Please provide authentication credential for ."), call.end());
  EXPECT_EQ(Probe("read", "", Session()), "found\ndave\nsecret\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "none\n");
}

TEST_F(ProxyCredentialsTest, TheTargetIsNoMarkupForZenity) {
  Dialog("zenity", {{"", 1}});
  EXPECT_EQ(Probe("prompt", "a&b<c>", Desktop()), "cancelled\n");
  const std::vector<std::string> call = Call(0);
  EXPECT_NE(
      std::find(call.begin(), call.end(), "--text=Please provide authentication credential for a&amp;b&lt;c&gt;."),
      call.end());
}

TEST_F(ProxyCredentialsTest, KdialogAsksInThreeSteps) {
  Dialog("kdialog", {{"erin\n", 0}, {"pa ss|word\n", 0}, {"", 0}, {"frank\n", 0}, {"x\n", 0}, {"", 1}});
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\nerin\npa ss|word\n");
  const std::vector<std::vector<std::string>> expected_modes = {{"--inputbox"}, {"--password"}, {"--yesno"}};
  for (int n = 0; n < 3; ++n) {
    const std::vector<std::string> call = Call(n);
    ASSERT_GE(call.size(), 5u);
    EXPECT_EQ(call[0], "kdialog");
    EXPECT_EQ(call[1], "--title");
    EXPECT_EQ(call[2], "Proxy Authentication - Vorneth");
    EXPECT_EQ(call[3], expected_modes[n][0]);
  }
  EXPECT_EQ(Call(0)[4].rfind("Please provide authentication credential for proxy.example:8080.", 0), 0u);
  EXPECT_EQ(Probe("read", kTarget, Session()), "found\nerin\npa ss|word\n");
  // "No" to remembering still answers, and keeps what was stored.
  EXPECT_EQ(Probe("prompt", kTarget, Desktop()), "answered\nfrank\nx\n");
  EXPECT_EQ(Probe("read", kTarget, Session()), "found\nerin\npa ss|word\n");
}

}  // namespace
}  // namespace vorneth
