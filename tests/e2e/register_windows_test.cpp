// vorneth-register.exe run through the emulator (wine) against the prefix's
// registry, when VORNETH_WINDOWS_REGISTER names it; skipped otherwise. The
// registry is read back with the emulator's own "reg" command, and every key
// a test may have written is deleted again at its end, so the prefix keeps
// nothing. The host is a copy of VORNETH_HOST_UNDER_TEST in a scratch folder,
// since the manifests go beside it.
#include <gtest/gtest.h>
#include <json/value.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_process.h"
#include "json/json_conversions.h"
#include "register_tool_run.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kChromeKey[] = "Software\\Google\\Chrome\\NativeMessagingHosts\\org.vorneth.host";
constexpr char kChromiumKey[] = "Software\\Chromium\\NativeMessagingHosts\\org.vorneth.host";
constexpr char kFirefoxKey[] = "Software\\Mozilla\\NativeMessagingHosts\\org.vorneth.host";

class RegisterWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tool = getenv("VORNETH_WINDOWS_REGISTER");
    if (tool == nullptr || *tool == '\0') GTEST_SKIP() << "VORNETH_WINDOWS_REGISTER names no Windows tool";
    m_launcher = HostLauncher();
    if (m_launcher.empty() || HostUnderTestPath().empty()) GTEST_SKIP() << "no launcher or no Windows host";
    m_tool = tool;
    ASSERT_FALSE(m_scratch.path().empty());
    m_folder = fs::path(m_scratch.path()) / "host folder";
    fs::create_directories(m_folder);
    fs::copy_file(HostUnderTestPath(), m_folder / "vorneth-host.exe");
    m_cleanup = true;
  }

  void TearDown() override {
    if (!m_cleanup) return;
    for (const char* root : {"HKCU\\", "HKLM\\"}) {
      for (const char* key : {kChromeKey, kChromiumKey, kFirefoxKey})
        Reg({"delete", root + std::string(key), "/f", "/reg:64"});
    }
  }

  // A path of this machine as the Windows side names it.
  static std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  std::string Host() const { return WindowsPath(m_folder / "vorneth-host.exe"); }

  ToolResult Run(const std::vector<std::string>& command) {
    std::vector<std::string> full = m_launcher;
    full.insert(full.end(), command.begin(), command.end());
    return RunTool(full, {{"WINEDEBUG", "-all"}, {"LC_ALL", "C.UTF-8"}},
                   (fs::path(m_scratch.path()) / "stderr.txt").string());
  }

  ToolResult Register(std::vector<std::string> args) {
    args.insert(args.begin(), m_tool);
    args.insert(args.end(), {"--host", Host()});
    return Run(args);
  }

  ToolResult Reg(std::vector<std::string> args) {
    args.insert(args.begin(), "reg");
    return Run(args);
  }

  // The default value of `key` ("HKCU\..."), or "(absent)", in the 64-bit
  // view, where the tool writes (the emulator's "reg" reads the 32-bit one
  // by default).
  std::string DefaultValue(const std::string& key) {
    const ToolResult query = Reg({"query", key, "/ve", "/reg:64"});
    if (query.m_status != 0) return "(absent)";
    const size_t type = query.m_out.find("REG_SZ");
    if (type == std::string::npos) return "(no text)";
    std::string value = query.m_out.substr(query.m_out.find_first_not_of(" \t", type + 6));
    value.erase(value.find_first_of("\r\n"));
    return value;
  }

  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir m_scratch;
  std::vector<std::string> m_launcher;
  std::string m_tool;
  fs::path m_folder;
  bool m_cleanup = false;
};

TEST_F(RegisterWindowsTest, UserInstallCheckAndUninstallThroughTheRegistry) {
  const ToolResult installed = Register({"install", "--browser", "chrome", "--browser", "firefox"});
  ASSERT_EQ(installed.m_status, 0) << installed.m_out << installed.m_err;
  const std::string chromium = WindowsPath(m_folder / "org.vorneth.host.json");
  const std::string firefox = WindowsPath(m_folder / "org.vorneth.host.firefox.json");
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kChromeKey), chromium);
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kFirefoxKey), firefox);
  EXPECT_EQ(DefaultValue(std::string("HKLM\\") + kChromeKey), "(absent)");
  Json::Value manifest;
  std::stringstream text;
  text << std::ifstream(m_folder / "org.vorneth.host.json").rdbuf();
  ASSERT_TRUE(ParseJson(text.str(), manifest)) << text.str();
  EXPECT_EQ(manifest["path"], Host());
  EXPECT_EQ(manifest["allowed_origins"][0], "chrome-extension://ejjloefkknaejngfkaglfogdnpnjlgcp/");

  const ToolResult checked = Register({"check", "--browser", "chrome", "--browser", "firefox"});
  EXPECT_EQ(checked.m_status, 0) << checked.m_out << checked.m_err;
  EXPECT_NE(checked.m_out.find(std::string("Chrome (user): registered in HKCU\\") + kChromeKey + " -> " + chromium +
                               "; the host answered GetHostVersion with 2.15.0.0"),
            std::string::npos)
      << checked.m_out;
  EXPECT_NE(checked.m_out.find("Firefox (user): registered in HKCU\\"), std::string::npos) << checked.m_out;

  // A key that names a manifest that is gone.
  fs::rename(m_folder / "org.vorneth.host.json", m_folder / "moved.json");
  const ToolResult broken = Register({"check", "--browser", "chrome"});
  EXPECT_EQ(broken.m_status, 1);
  EXPECT_NE(broken.m_out.find("the registry key names a manifest that does not exist"), std::string::npos)
      << broken.m_out;
  fs::rename(m_folder / "moved.json", m_folder / "org.vorneth.host.json");

  const ToolResult uninstalled = Register({"uninstall", "--browser", "chrome", "--browser", "firefox"});
  EXPECT_EQ(uninstalled.m_status, 0) << uninstalled.m_out << uninstalled.m_err;
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kChromeKey), "(absent)");
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kFirefoxKey), "(absent)");
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"vorneth-host.exe"});
}

TEST_F(RegisterWindowsTest, SystemScopeWritesTheMachineKeysAndSharesTheManifest) {
  ASSERT_EQ(Register({"install", "--system", "--browser", "chromium"}).m_status, 0);
  ASSERT_EQ(Register({"install", "--browser", "chromium"}).m_status, 0);
  const std::string manifest = WindowsPath(m_folder / "org.vorneth.host.json");
  EXPECT_EQ(DefaultValue(std::string("HKLM\\") + kChromiumKey), manifest);
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kChromiumKey), manifest);
  const ToolResult checked = Register({"check", "--system", "--browser", "chromium"});
  EXPECT_EQ(checked.m_status, 0) << checked.m_out << checked.m_err;
  EXPECT_NE(checked.m_out.find(std::string("Chromium (system): registered in HKLM\\") + kChromiumKey),
            std::string::npos)
      << checked.m_out;

  // The user's key still names the manifest: it stays until that goes too.
  ASSERT_EQ(Register({"uninstall", "--system", "--browser", "chromium"}).m_status, 0);
  EXPECT_EQ(DefaultValue(std::string("HKLM\\") + kChromiumKey), "(absent)");
  EXPECT_TRUE(fs::exists(m_folder / "org.vorneth.host.json"));
  ASSERT_EQ(Register({"uninstall", "--browser", "chromium"}).m_status, 0);
  EXPECT_EQ(DefaultValue(std::string("HKCU\\") + kChromiumKey), "(absent)");
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"vorneth-host.exe"});
}

}  // namespace
}  // namespace vorneth::testing
