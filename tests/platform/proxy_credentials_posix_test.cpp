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

#include "platform/child_process.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth {
namespace {

using testing::ScratchDir;
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

constexpr auto kWait = std::chrono::seconds(20);
constexpr char kTarget[] = "proxy.example:8080";
constexpr char kMessage[] = "--text=Please provide authentication credential for proxy.example:8080.";

// Runs `command` with its input and environment to its end; what it
// printed, or nullopt when it did not end with status 0 in time.
std::optional<std::string> RunToEnd(const std::vector<std::string>& command, const Environment& environment,
                                    const std::string& input = {}) {
  ChildProcess child;
  if (!child.Start({command, environment, {}})) {
    ADD_FAILURE() << child.error();
    return std::nullopt;
  }
  if (!input.empty() && !child.Write(input)) return std::nullopt;
  child.CloseInput();
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (std::chrono::steady_clock::now() < deadline) {
    const ReadStatus status = child.Read(output, std::chrono::milliseconds(200));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  const std::optional<int> status = child.Wait(kWait);
  if (status != 0) {
    ADD_FAILURE() << command[0] << " ended with " << (status ? std::to_string(*status) : "no status in time");
    return std::nullopt;
  }
  return output;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A stand-in dialog: call n records its program name and arguments
// (NUL-separated) in call.<n>, prints answer.<n> if there is one and exits
// with status.<n> (0 when absent).
void WriteStandIn(const std::string& path, const std::string& folder) {
  WriteText(path, "#!/bin/sh\nPATH=/usr/bin:/bin\ndir='" + folder +
                      "'\n"
                      "n=0\nwhile [ -e \"$dir/call.$n\" ]; do n=$((n+1)); done\n"
                      "printf '%s\\0' \"${0##*/}\" \"$@\" > \"$dir/call.$n\"\n"
                      "[ -e \"$dir/answer.$n\" ] && cat \"$dir/answer.$n\"\n"
                      "exit \"$(cat \"$dir/status.$n\" 2>/dev/null || echo 0)\"\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::vector<std::string> SplitNul(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// A private session bus and an unlocked keyring in scratch folders, both
// ended (and the folders removed) when the test ends, however it ends.
class ProxyCredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_root.path().empty());
    for (const char* folder : {"runtime", "data", "config", "home", "bin", "calls", "empty"}) {
      std::filesystem::create_directory(m_root / folder);
    }
    std::filesystem::permissions(m_root / "runtime", std::filesystem::perms::owner_all);
    WriteText(m_root / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" +
                  (m_root / "runtime") +
                  "/bus</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    StartSession();
  }

  // Starts the bus and the keyring daemon (on the folders a previous
  // session left).
  void StartSession() {
    std::filesystem::remove(m_root / "runtime/bus");
    ASSERT_TRUE(m_bus.Start({{"dbus-daemon", "--config-file=" + (m_root / "bus.conf"), "--nofork", "--print-address"},
                             {},
                             m_root / "bus.log"}))
        << m_bus.error();
    std::string address;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (address.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (m_bus.Read(address, std::chrono::milliseconds(200)) == ReadStatus::kEndOfStream) break;
    }
    ASSERT_NE(address.find('\n'), std::string::npos) << "the bus printed no address";
    m_address = address.substr(0, address.find('\n'));

    ASSERT_TRUE(m_keyring.Start({{"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                                 Session(),
                                 m_root / "keyring.log"}))
        << m_keyring.error();
    ASSERT_TRUE(m_keyring.Write("keyring password"));
    m_keyring.CloseInput();
    ASSERT_TRUE(WaitForKeyring());
  }

  // Ends the keyring daemon and the bus at once.
  void StopSession() {
    m_keyring = ChildProcess();
    m_bus = ChildProcess();
  }

  // The environment of the session: its bus, folders and no display.
  Environment Session() const {
    return {{"DBUS_SESSION_BUS_ADDRESS", m_address},
            {"XDG_RUNTIME_DIR", m_root / "runtime"},
            {"XDG_DATA_HOME", m_root / "data"},
            {"XDG_CONFIG_HOME", m_root / "config"},
            {"HOME", m_root / "home"},
            {"DISPLAY", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt}};
  }
  // The session with a display and the stand-in folder alone on PATH.
  Environment Desktop() const {
    Environment environment = Session();
    environment.emplace_back("DISPLAY", ":99");
    environment.emplace_back("PATH", m_root / "bin");
    return environment;
  }

  bool WaitForKeyring() {
    for (int attempt = 0; attempt < 200; ++attempt) {
      ChildProcess query;
      std::string reply;
      if (!query.Start(
              {{"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"},
               Session(),
               {}})) {
        return false;
      }
      query.CloseInput();
      while (query.Read(reply, std::chrono::seconds(2)) == ReadStatus::kData) {
      }
      query.Wait(kWait);
      if (reply.find("boolean true") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the keyring never took its name on the bus";
    return false;
  }

  std::optional<std::string> Probe(const std::string& call, const std::string& target,
                                   const Environment& environment) const {
    return RunToEnd({PROXY_CREDENTIALS_PROBE_PATH, call, target}, environment);
  }

  void Store(const std::string& target, const std::string& user, const std::string& password) const {
    ASSERT_TRUE(RunToEnd({"secret-tool", "store", "--label=test", "xdg:schema", "org.vorneth.ProxyCredential", "target",
                          target, "user", user},
                         Session(), password));
  }

  // The stand-in dialog `name`, and its answer to each call in turn
  // (text printed, exit status).
  void Dialog(const std::string& name, const std::vector<std::pair<std::string, int>>& answers) const {
    WriteStandIn(m_root / ("bin/" + name), m_root / "calls");
    for (size_t n = 0; n < answers.size(); ++n) {
      WriteText(m_root / ("calls/answer." + std::to_string(n)), answers[n].first);
      WriteText(m_root / ("calls/status." + std::to_string(n)), std::to_string(answers[n].second));
    }
  }
  // Program name and arguments of the dialog's call `n`; empty when there
  // was no such call.
  std::vector<std::string> Call(int n) const {
    return SplitNul(testing::ReadBytes(m_root / ("calls/call." + std::to_string(n))));
  }
  bool Called(int n) const { return std::filesystem::exists(m_root / ("calls/call." + std::to_string(n))); }

  ScratchDir m_root;
  ChildProcess m_bus;
  ChildProcess m_keyring;
  std::string m_address;
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
  no_bus.emplace_back("XDG_RUNTIME_DIR", m_root / "empty");
  no_bus.emplace_back("PATH", (m_root / "bin") + ":/usr/bin:/bin");
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
  no_dialog.emplace_back("PATH", m_root / "empty");
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
