// A private desktop session for tests: a session bus (dbus-daemon) with
// gnome-keyring-daemon serving the Secret Service, unlocked, from scratch
// folders, and stand-in dialog programs in a folder of their own. Programs
// under test reach it through Session() (bus, runtime and data folders, no
// display) or Desktop() (the same with a display and the stand-ins alone on
// PATH), given as a child's environment: nothing here touches the test's
// own environment. The daemons end and the folders go with the object,
// however the test ends; failures are test failures (gtest).
//
// One object is used from one thread.
#ifndef VORNETH_TESTS_SUPPORT_PRIVATE_DESKTOP_H_
#define VORNETH_TESTS_SUPPORT_PRIVATE_DESKTOP_H_

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {

using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

inline constexpr auto kDesktopWait = std::chrono::seconds(20);

// Runs `command` with its input and environment to its end; what it
// printed, or nullopt (a test failure) when it did not end with status 0 in
// time.
std::optional<std::string> RunToEnd(const std::vector<std::string>& command, const Environment& environment,
                                    const std::string& input = {});
// Writes `text` to the file `path`, replacing it.
void WriteText(const std::string& path, const std::string& text);
// A stand-in dialog program at `path`: call n records its program name and
// arguments (NUL-separated) in `folder`/call.<n>, prints answer.<n> if there
// is one and exits with status.<n> (0 when absent).
void WriteStandIn(const std::string& path, const std::string& folder);
// `text` cut at each NUL (a trailing part without one is dropped).
std::vector<std::string> SplitNul(const std::string& text);

class PrivateDesktop {
 public:
  // Creates the folders and starts the session.
  PrivateDesktop() { Prepare(); }
  // Ends the keyring daemon and the bus, then removes the folders.
  virtual ~PrivateDesktop() = default;
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  void Prepare() {
    ASSERT_FALSE(m_folders.path().empty());
    for (const char* folder : {"runtime", "data", "config", "home", "bin", "calls", "empty"}) {
      std::filesystem::create_directory(m_folders / folder);
    }
    std::filesystem::permissions(m_folders / "runtime", std::filesystem::perms::owner_all);
    WriteText(m_folders / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" +
                  (m_folders / "runtime") +
                  "/bus</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    StartSession();
  }

  // Starts the bus and the keyring daemon (on the folders a previous
  // session left).
  void StartSession() {
    std::filesystem::remove(m_folders / "runtime/bus");
    ASSERT_TRUE(
        m_bus.Start({{"dbus-daemon", "--config-file=" + (m_folders / "bus.conf"), "--nofork", "--print-address"},
                     {},
                     m_folders / "bus.log"}))
        << m_bus.error();
    std::string address;
    const auto deadline = std::chrono::steady_clock::now() + kDesktopWait;
    while (address.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (m_bus.Read(address, std::chrono::milliseconds(200)) == ReadStatus::kEndOfStream) break;
    }
    ASSERT_NE(address.find('\n'), std::string::npos) << "the bus printed no address";
    m_address = address.substr(0, address.find('\n'));

    ASSERT_TRUE(m_keyring.Start({{"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                                 Session(),
                                 m_folders / "keyring.log"}))
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
            {"XDG_RUNTIME_DIR", m_folders / "runtime"},
            {"XDG_DATA_HOME", m_folders / "data"},
            {"XDG_CONFIG_HOME", m_folders / "config"},
            {"HOME", m_folders / "home"},
            {"DISPLAY", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt}};
  }
  // The session with a display and the stand-in folder alone on PATH.
  Environment Desktop() const {
    Environment environment = Session();
    environment.emplace_back("DISPLAY", ":99");
    environment.emplace_back("PATH", m_folders / "bin");
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
      query.Wait(kDesktopWait);
      if (reply.find("boolean true") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the keyring never took its name on the bus";
    return false;
  }

  void Store(const std::string& target, const std::string& user, const std::string& password) const {
    ASSERT_TRUE(RunToEnd({"secret-tool", "store", "--label=test", "xdg:schema", "org.vorneth.ProxyCredential", "target",
                          target, "user", user},
                         Session(), password));
  }

  // The stand-in dialog `name`, and its answer to each call in turn
  // (text printed, exit status).
  void Dialog(const std::string& name, const std::vector<std::pair<std::string, int>>& answers) const {
    WriteStandIn(m_folders / ("bin/" + name), m_folders / "calls");
    for (size_t n = 0; n < answers.size(); ++n) {
      WriteText(m_folders / ("calls/answer." + std::to_string(n)), answers[n].first);
      WriteText(m_folders / ("calls/status." + std::to_string(n)), std::to_string(answers[n].second));
    }
  }
  // Program name and arguments of the dialog's call `n`; empty when there
  // was no such call.
  std::vector<std::string> Call(int n) const {
    return SplitNul(testing::ReadBytes(m_folders / ("calls/call." + std::to_string(n))));
  }
  bool Called(int n) const { return std::filesystem::exists(m_folders / ("calls/call." + std::to_string(n))); }

  // The folder `name` of the session ("bin" for the stand-ins, "empty", ...).
  std::string Folder(const std::string& name) const { return m_folders / name; }

 protected:
  ScratchDir m_folders;
  ChildProcess m_bus;
  ChildProcess m_keyring;
  std::string m_address;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_PRIVATE_DESKTOP_H_
