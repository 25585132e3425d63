// vorneth-register run as a real process on Linux: every browser in both
// scopes into a temporary HOME and root, each problem that check explains
// made on disk and read back from its output, the host started by check
// as a browser starts it, and uninstall leaving nothing of ours behind.
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "json/json_conversions.h"
#include "register_tool_run.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kExampleOrigin[] = "chrome-extension://ejjloefkknaejngfkaglfogdnpnjlgcp/";
constexpr char kOtherId[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
constexpr char kNotFound[] = "Specified native messaging host not found.";
constexpr char kForbidden[] = "Access to the specified native messaging host is forbidden.";
constexpr char kCannotStart[] = "Failed to start native messaging host.";

struct BrowserPlace {
  const char* m_name;
  const char* m_title;
  bool m_firefox;
  const char* m_user;    // below HOME
  const char* m_system;  // below the root
};

// Where each browser looks, as the browsers define it.
constexpr BrowserPlace kPlaces[] = {
    {"chrome", "Chrome", false, ".config/google-chrome/NativeMessagingHosts", "etc/opt/chrome/native-messaging-hosts"},
    {"chromium", "Chromium", false, ".config/chromium/NativeMessagingHosts", "etc/chromium/native-messaging-hosts"},
    {"edge", "Edge", false, ".config/microsoft-edge/NativeMessagingHosts", "etc/opt/edge/native-messaging-hosts"},
    {"brave", "Brave", false, ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts",
     "etc/opt/brave.com/brave/native-messaging-hosts"},
    {"vivaldi", "Vivaldi", false, ".config/vivaldi/NativeMessagingHosts", "etc/opt/vivaldi/native-messaging-hosts"},
    {"firefox", "Firefox", true, ".mozilla/native-messaging-hosts", "usr/lib/mozilla/native-messaging-hosts"},
};

std::string ReadText(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The one line of `out` that starts with `start`; empty when there is none.
std::string LineStarting(const std::string& out, const std::string& start) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(start, 0) == 0) return line;
  }
  return {};
}

class RegisterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.path().empty());
    m_base = m_scratch.path();
    for (const fs::path& folder : {m_home, m_root, m_data, m_hostFolder}) fs::create_directories(m_base / folder);
    // A copy of the host that the tests may break; a blank in its folder's
    // name must survive the manifest and the start.
    fs::copy_file(VORNETH_HOST_PATH, HostCopy());
  }

  fs::path Home() const { return m_base / m_home; }
  fs::path Root() const { return m_base / m_root; }
  fs::path HostCopy() const { return m_base / m_hostFolder / "vorneth-host"; }

  fs::path Manifest(const BrowserPlace& place, bool system) const {
    return (system ? Root() / place.m_system : Home() / place.m_user) / "org.vorneth.host.json";
  }

  // vorneth-register with `args`, the scratch root and the scratch user.
  ToolResult Register(std::vector<std::string> args, ToolEnvironment extra = {}) {
    std::vector<std::string> command = {VORNETH_REGISTER_PATH};
    command.insert(command.end(), args.begin(), args.end());
    command.insert(command.end(), {"--root", Root().string()});
    ToolEnvironment environment = {
        {"HOME", Home().string()}, {"XDG_CONFIG_HOME", std::nullopt}, {"XDG_DATA_HOME", (m_base / m_data).string()}};
    environment.insert(environment.end(), extra.begin(), extra.end());
    return RunTool(command, environment, (m_base / "stderr.txt").string());
  }

  // Every entry below `folder`, relative to it, sorted.
  static std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      entries.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  ScratchDir m_scratch;
  fs::path m_base;
  const fs::path m_home = "home";
  const fs::path m_root = "root";
  const fs::path m_data = "data";
  const fs::path m_hostFolder = "host folder";
};

void ExpectManifest(const fs::path& path, const BrowserPlace& place, const fs::path& host) {
  SCOPED_TRACE(path.string());
  ASSERT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  Json::Value manifest;
  ASSERT_TRUE(ParseJson(ReadText(path), manifest));
  EXPECT_EQ(manifest["name"], "org.vorneth.host");
  EXPECT_EQ(manifest["description"], "Vorneth native add-on host");
  EXPECT_EQ(manifest["path"], host.string());
  EXPECT_EQ(manifest["type"], "stdio");
  Json::Value allowed(Json::arrayValue);
  allowed.append(place.m_firefox ? "vorneth@vorneth.org" : kExampleOrigin);
  EXPECT_EQ(manifest[place.m_firefox ? "allowed_extensions" : "allowed_origins"], allowed);
  EXPECT_FALSE(manifest.isMember(place.m_firefox ? "allowed_origins" : "allowed_extensions"));
}

TEST_F(RegisterTest, InstallsChecksAndUninstallsEveryBrowserInBothScopes) {
  for (const bool system : {false, true}) {
    SCOPED_TRACE(system ? "system" : "user");
    const std::vector<std::string> scope = system ? std::vector<std::string>{"--system"} : std::vector<std::string>{};
    std::vector<std::string> install = {"install", "--host", HostCopy().string()};
    install.insert(install.end(), scope.begin(), scope.end());
    const ToolResult installed = Register(install);
    ASSERT_EQ(installed.m_status, 0) << installed.m_out << installed.m_err;
    for (const BrowserPlace& place : kPlaces) ExpectManifest(Manifest(place, system), place, HostCopy());
    // Nothing lands in the other scope.
    EXPECT_TRUE(Entries(system ? Home() : Root()).empty());

    std::vector<std::string> check = {"check"};
    check.insert(check.end(), scope.begin(), scope.end());
    const ToolResult checked = Register(check);
    EXPECT_EQ(checked.m_status, 0) << checked.m_out << checked.m_err;
    for (const BrowserPlace& place : kPlaces) {
      const std::string label = std::string(place.m_title) + (system ? " (system)" : " (user)");
      EXPECT_EQ(LineStarting(checked.m_out, label + ": "), label + ": registered in " +
                                                               Manifest(place, system).string() +
                                                               "; the host answered GetHostVersion with 2.15.0.0")
          << checked.m_out;
    }

    std::vector<std::string> uninstall = {"uninstall", "--host", HostCopy().string()};
    uninstall.insert(uninstall.end(), scope.begin(), scope.end());
    const ToolResult uninstalled = Register(uninstall);
    EXPECT_EQ(uninstalled.m_status, 0) << uninstalled.m_out << uninstalled.m_err;
    // The browsers' folders went with the manifests; the shared folders
    // above them (etc, etc/opt, usr/lib, .config) stay.
    EXPECT_EQ(Entries(Home()), system ? std::vector<std::string>{} : std::vector<std::string>{".config"});
    EXPECT_EQ(Entries(Root()),
              system ? (std::vector<std::string>{"etc", "etc/opt", "usr", "usr/lib"}) : std::vector<std::string>{});
    fs::remove_all(Home() / ".config");
  }
}

TEST_F(RegisterTest, UserScopeFollowsXdgConfigHomeExceptForFirefox) {
  const fs::path config = m_base / "config";
  const ToolEnvironment xdg = {{"XDG_CONFIG_HOME", config.string()}};
  const ToolResult installed =
      Register({"install", "--browser", "chrome", "--browser", "firefox", "--host", HostCopy().string()}, xdg);
  ASSERT_EQ(installed.m_status, 0) << installed.m_err;
  EXPECT_TRUE(fs::is_regular_file(config / "google-chrome/NativeMessagingHosts/org.vorneth.host.json"));
  EXPECT_TRUE(fs::is_regular_file(Home() / ".mozilla/native-messaging-hosts/org.vorneth.host.json"));
  EXPECT_FALSE(fs::exists(Home() / ".config"));
  const ToolResult checked = Register({"check", "--browser", "chrome", "--browser", "firefox"}, xdg);
  EXPECT_EQ(checked.m_status, 0) << checked.m_out;
  // Without the variable the user's manifests are elsewhere: Chrome has none.
  const ToolResult plain = Register({"check", "--browser", "chrome"});
  EXPECT_EQ(plain.m_status, 1) << plain.m_out;
  EXPECT_NE(LineStarting(plain.m_out, "Chrome (user): not registered: nothing at " + Home().string() +
                                          "/.config/google-chrome/NativeMessagingHosts/org.vorneth.host.json"),
            "")
      << plain.m_out;
  ASSERT_EQ(Register({"uninstall", "--browser", "chrome", "--browser", "firefox"}, xdg).m_status, 0);
  EXPECT_TRUE(Entries(config).empty());
  EXPECT_TRUE(Entries(Home()).empty());
}

// One way to break a registration, and what check must then say.
struct Cause {
  const char* m_name;
  std::function<void(std::string& manifest, const fs::path& host)> m_break;
  std::string m_problem;
  std::string m_browserText;
  std::vector<std::string> m_checkArgs = {};
};

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " in " << text;
  text.replace(at, from.size(), to);
}

TEST_F(RegisterTest, CheckExplainsEachCauseOfTheChromiumErrors) {
  ASSERT_EQ(Register({"install", "--browser", "chromium", "--host", HostCopy().string()}).m_status, 0);
  const fs::path manifest = Manifest(kPlaces[1], false);
  const std::string sound = ReadText(manifest);
  const std::string host = HostCopy().string();
  const std::string hostBytes = ReadText(HostCopy());
  const std::vector<Cause> causes = {
      {"not JSON", [](std::string& text, const fs::path&) { text.resize(text.size() / 2); },
       "the manifest is not valid JSON", kNotFound},
      {"a name that is not the file's",
       [](std::string& text, const fs::path&) {
         Replace(text, "\"name\": \"org.vorneth.host\"", "\"name\": \"org.vorneth.other\"");
       },
       "\"name\" is \"org.vorneth.other\", which does not match the file name org.vorneth.host.json", kNotFound},
      {"no description",
       [](std::string& text, const fs::path&) {
         Replace(text, "\"description\": \"Vorneth native add-on host\",", "");
       },
       "\"description\" is missing", kNotFound},
      {"a relative path",
       [&](std::string& text, const fs::path&) { Replace(text, "\"" + host + "\"", "\"vorneth-host\""); },
       "\"path\" is the relative path \"vorneth-host\"", kNotFound},
      {"a path to nothing",
       [&](std::string& text, const fs::path&) { Replace(text, "\"" + host + "\"", "\"/nonexistent/vorneth-host\""); },
       "the host /nonexistent/vorneth-host does not exist", kCannotStart},
      {"a host that is not executable",
       [](std::string&, const fs::path& file) { fs::permissions(file, fs::perms::owner_read); },
       "the host " + host + " is not executable", kCannotStart},
      {"a type other than stdio", [](std::string& text, const fs::path&) { Replace(text, "\"stdio\"", "\"pipe\""); },
       "\"type\" is not \"stdio\"", kNotFound},
      {"an origin without its slash",
       [](std::string& text, const fs::path&) { Replace(text, kExampleOrigin, std::string(kExampleOrigin, 51)); },
       std::string("the allowed origin \"") + std::string(kExampleOrigin, 51) + "\" lacks its trailing \"/\"",
       kNotFound},
      {"a malformed origin",
       [](std::string& text, const fs::path&) { Replace(text, "chrome-extension://ejj", "chrome-extension://EJJ"); },
       "the allowed origin \"chrome-extension://EJJloefkknaejngfkaglfogdnpnjlgcp/\" is malformed", kNotFound},
      {"another extension wanted",
       [](std::string&, const fs::path&) {},
       std::string("the extension ") + kOtherId + " is not among \"allowed_origins\"",
       kForbidden,
       {"--extension-id", kOtherId}},
      {"a host that ends at once",
       [](std::string&, const fs::path& file) {
         WriteText(file, "#!/bin/sh\nexit 3\n");
         fs::permissions(file, fs::perms::owner_all);
       },
       "the host ended without answering GetHostVersion", "Native host has exited."},
  };
  for (const Cause& cause : causes) {
    SCOPED_TRACE(cause.m_name);
    std::string broken = sound;
    cause.m_break(broken, HostCopy());
    WriteText(manifest, broken);
    std::vector<std::string> args = {"check", "--browser", "chromium"};
    args.insert(args.end(), cause.m_checkArgs.begin(), cause.m_checkArgs.end());
    const ToolResult checked = Register(args);
    EXPECT_EQ(checked.m_status, 1) << checked.m_out;
    const std::string line = LineStarting(checked.m_out, "Chromium (user): " + manifest.string() + ": ");
    EXPECT_NE(line.find(cause.m_problem), std::string::npos) << checked.m_out;
    EXPECT_NE(line.find("fix: "), std::string::npos) << line;
    EXPECT_NE(line.find("Chromium then reports \"" + cause.m_browserText + "\""), std::string::npos) << line;
    // Put everything back: the next cause starts from a sound registration.
    WriteText(manifest, sound);
    fs::remove(HostCopy());
    WriteText(HostCopy(), hostBytes);
    fs::permissions(HostCopy(), fs::perms::owner_all);
  }
  // The sound registration passes again, so no cause above leaked.
  EXPECT_EQ(Register({"check", "--browser", "chromium"}).m_status, 0);
  // No manifest where the browser looks.
  fs::remove(manifest);
  const ToolResult absent = Register({"check", "--browser", "chromium"});
  EXPECT_EQ(absent.m_status, 1);
  EXPECT_EQ(LineStarting(absent.m_out, "Chromium (user): "),
            "Chromium (user): not registered: nothing at " + manifest.string() + " (there Chromium reports \"" +
                kNotFound + "\"); fix: vorneth-register install --browser chromium")
      << absent.m_out;
}

TEST_F(RegisterTest, CheckExplainsTheFirefoxCauses) {
  ASSERT_EQ(Register({"install", "--system", "--browser", "firefox", "--host", HostCopy().string()}).m_status, 0);
  const fs::path manifest = Manifest(kPlaces[5], true);
  const std::string prefix = "Firefox (system): " + manifest.string() + ": ";
  const ToolResult other = Register({"check", "--system", "--browser", "firefox", "--extension-id", "x@example.org"});
  EXPECT_EQ(other.m_status, 1);
  EXPECT_NE(LineStarting(other.m_out, prefix)
                .find("the extension x@example.org is not among \"allowed_extensions\"; fix: add \"x@example.org\""),
            std::string::npos)
      << other.m_out;
  EXPECT_NE(other.m_out.find("does not have permission to use native application org.vorneth.host"), std::string::npos);
  std::string text = ReadText(manifest);
  Replace(text, "allowed_extensions", "allowed_origins");
  WriteText(manifest, text);
  const ToolResult missing = Register({"check", "--system", "--browser", "firefox"});
  EXPECT_EQ(missing.m_status, 1);
  const std::string line = LineStarting(missing.m_out, prefix);
  EXPECT_NE(line.find("\"allowed_extensions\" is missing"), std::string::npos) << missing.m_out;
  EXPECT_NE(line.find("No such native application org.vorneth.host"), std::string::npos) << line;
}

TEST_F(RegisterTest, CheckStartsTheHostAsABrowserDoes) {
  // A stand-in that records its folder and arguments, then becomes the
  // real host, which must answer.
  const fs::path record = m_base / "record.txt";
  const fs::path script = m_base / m_hostFolder / "recording-host";
  WriteText(script, "#!/bin/sh\nprintf '%s|%s\\n' \"$PWD\" \"$*\" >> '" + record.string() + "'\nexec '" +
                        HostCopy().string() + "' \"$@\"\n");
  fs::permissions(script, fs::perms::owner_all);
  ASSERT_EQ(Register({"install", "--browser", "chromium", "--browser", "firefox", "--host", script.string()}).m_status,
            0);
  const ToolResult checked = Register({"check", "--browser", "chromium", "--browser", "firefox"});
  EXPECT_EQ(checked.m_status, 0) << checked.m_out << checked.m_err;
  const std::string folder = (m_base / m_hostFolder).string();
  EXPECT_EQ(ReadText(record), folder + "|" + kExampleOrigin + "\n" + folder + "|" +
                                  Manifest(kPlaces[5], false).string() + " vorneth@vorneth.org\n");
  // The host started in the user's data folder, as under a browser.
  EXPECT_TRUE(fs::is_directory(m_base / m_data / "Vorneth"));
}

TEST_F(RegisterTest, ExitStatusNeedsASoundRegistrationAndNoBrokenOne) {
  const ToolResult none = Register({"check"});
  EXPECT_EQ(none.m_status, 1);
  EXPECT_NE(none.m_out.find("The host is registered soundly for no browser."), std::string::npos) << none.m_out;

  ASSERT_EQ(Register({"install", "--browser", "chromium", "--host", HostCopy().string()}).m_status, 0);
  ASSERT_EQ(Register({"install", "--system", "--browser", "chrome", "--host", HostCopy().string()}).m_status, 0);
  const ToolResult two = Register({"check"});
  EXPECT_EQ(two.m_status, 0) << two.m_out;
  EXPECT_NE(two.m_out.find("The host is registered soundly for Chrome (system), Chromium (user)."), std::string::npos)
      << two.m_out;
  // A named browser without a registration fails the check.
  EXPECT_EQ(Register({"check", "--browser", "edge"}).m_status, 1);
  // The user's scope alone is not checked with --system.
  EXPECT_EQ(Register({"check", "--system", "--browser", "chromium"}).m_status, 1);

  // One broken manifest fails the whole check, not the others'.
  const fs::path chrome = Manifest(kPlaces[0], true);
  std::string text = ReadText(chrome);
  Replace(text, "\"type\": \"stdio\"", "\"type\": \"other\"");
  WriteText(chrome, text);
  EXPECT_EQ(Register({"check"}).m_status, 1);
  EXPECT_EQ(Register({"check", "--browser", "chromium"}).m_status, 0);
}

TEST_F(RegisterTest, UninstallRemovesOnlyWhatIsOurs) {
  ASSERT_EQ(Register({"install", "--browser", "chromium", "--host", HostCopy().string()}).m_status, 0);
  const fs::path folder = Manifest(kPlaces[1], false).parent_path();
  WriteText(folder / "org.other.host.json", "{}");
  const ToolResult removed = Register({"uninstall", "--browser", "chromium", "--host", HostCopy().string()});
  EXPECT_EQ(removed.m_status, 0) << removed.m_err;
  EXPECT_EQ(Entries(folder), (std::vector<std::string>{"org.other.host.json"}));
  EXPECT_TRUE(fs::exists(HostCopy()));
  // Nothing left to remove is no failure.
  const ToolResult again = Register({"uninstall", "--browser", "chromium", "--host", HostCopy().string()});
  EXPECT_EQ(again.m_status, 0);
  EXPECT_NE(again.m_out.find("Chromium (user): nothing registered in"), std::string::npos) << again.m_out;
}

TEST_F(RegisterTest, ManifestReachedThroughALinkIsReadLikeTheBrowserReadsIt) {
  ASSERT_EQ(Register({"install", "--browser", "brave", "--host", HostCopy().string()}).m_status, 0);
  const fs::path manifest = Manifest(kPlaces[3], false);
  const fs::path target = m_base / "kept manifest.json";
  fs::rename(manifest, target);
  fs::create_symlink(target, manifest);
  const ToolResult checked = Register({"check", "--browser", "brave"});
  EXPECT_EQ(checked.m_status, 0) << checked.m_out;
  // Uninstall removes the link, never what it points to.
  EXPECT_EQ(Register({"uninstall", "--browser", "brave", "--host", HostCopy().string()}).m_status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(manifest)));
  EXPECT_TRUE(fs::is_regular_file(target));
}

TEST_F(RegisterTest, TraceLibraryGoesBesideTheHostAndLeavesWithUninstall) {
  const fs::path library = m_base / "libquenlog-build.so";
  WriteText(library, std::string("library bytes\0with a NUL", 24));
  ASSERT_EQ(
      Register({"install", "--browser", "vivaldi", "--host", HostCopy().string(), "--trace-library", library.string()})
          .m_status,
      0);
  const fs::path copy = m_base / m_hostFolder / "libquenlog.so";
  EXPECT_EQ(ReadText(copy), ReadText(library));
  EXPECT_EQ(Register({"uninstall", "--browser", "vivaldi", "--host", HostCopy().string()}).m_status, 0);
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_TRUE(fs::exists(library));
  // A library that cannot be read fails the install.
  EXPECT_EQ(Register({"install", "--browser", "vivaldi", "--host", HostCopy().string(), "--trace-library",
                      (m_base / "missing.so").string()})
                .m_status,
            1);
}

// Without --host: the host beside the tool, else the installed layout's
// <prefix>/lib/vorneth/vorneth-host seen from <prefix>/bin.
TEST_F(RegisterTest, FindsTheHostBesideItselfOrInTheInstalledLayout) {
  const fs::path prefix = m_base / "prefix";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "lib/vorneth");
  const fs::path tool = prefix / "bin/vorneth-register";
  fs::copy_file(VORNETH_REGISTER_PATH, tool);
  fs::copy_file(VORNETH_HOST_PATH, prefix / "lib/vorneth/vorneth-host");
  const fs::path manifest = Manifest(kPlaces[4], false);
  const std::vector<std::string> install = {tool.string(), "install", "--browser", "vivaldi"};
  const ToolEnvironment environment = {{"HOME", Home().string()}, {"XDG_CONFIG_HOME", std::nullopt}};
  const std::string errFile = (m_base / "stderr.txt").string();
  ASSERT_EQ(RunTool(install, environment, errFile).m_status, 0);
  Json::Value written;
  ASSERT_TRUE(ParseJson(ReadText(manifest), written));
  EXPECT_EQ(written["path"], (prefix / "lib/vorneth/vorneth-host").string());
  fs::copy_file(VORNETH_HOST_PATH, prefix / "bin/vorneth-host");
  ASSERT_EQ(RunTool(install, environment, errFile).m_status, 0);
  ASSERT_TRUE(ParseJson(ReadText(manifest), written));
  EXPECT_EQ(written["path"], (prefix / "bin/vorneth-host").string());
}

TEST_F(RegisterTest, RefusesBadCommandLinesAndMissingHosts) {
  const std::vector<std::vector<std::string>> usage = {
      {},
      {"register"},
      {"install", "--browser", "netscape"},
      {"install", "--extension-id", "ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP"},
      {"install", "--extension-id", "no-at-sign"},
      {"check", "--trace-library", "/x/libquenlog.so"},
      {"check", "--unknown"},
      {"install", "--host"},
  };
  for (const std::vector<std::string>& args : usage) {
    const ToolResult result = Register(args);
    EXPECT_EQ(result.m_status, 2) << (args.empty() ? "" : args[0]) << " " << result.m_err;
    EXPECT_NE(result.m_err.find("vorneth-register: "), std::string::npos);
  }
  const ToolResult missing = Register({"install", "--host", (m_base / "nowhere").string()});
  EXPECT_EQ(missing.m_status, 1);
  EXPECT_NE(missing.m_err.find("does not exist"), std::string::npos) << missing.m_err;
  EXPECT_TRUE(Entries(Home()).empty());
  const ToolResult help = Register({"--help"});
  EXPECT_EQ(help.m_status, 0);
  EXPECT_NE(help.m_out.find("Usage: vorneth-register install|uninstall|check"), std::string::npos);
}

}  // namespace
}  // namespace vorneth::testing
