// Installing add-on packages downloaded over HTTP and HTTPS through the
// built host: from real servers on 127.0.0.1, with the failures a hostile or
// broken server can produce, and through proxies.
//
// A Windows host run through a launcher (wine, see support/host_process.h)
// takes its trusted authorities and its proxy settings from the emulated
// system rather than from its environment. There the tests change that
// system with VORNETH_WINDOWS_ADD_ROOT_CERTIFICATE (the path of the
// Windows build's add_root_certificate.exe) and the script
// support/wine_proxy_settings.sh, and undo every change at the end of the
// test, also when it fails. Such runs share one emulated system, so they
// run one at a time (as every run of a host with a fixed data directory).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "install_fixture.h"
#include "support/private_desktop.h"
#include "support/test_servers.h"

namespace vorneth::testing {
namespace {

const Files kAddOnFiles = {{"addon.so", "library bytes"}, {"data/table.txt", "one two three\n"}};
constexpr char kUuid[] = "{d0wn}";
constexpr char kOriginPrefix[] = "http://";

// True when the host under test is a Windows host run through a launcher.
bool Emulated() {
  return !HostLauncher().empty();
}

// The launcher's words followed by `command`.
std::vector<std::string> Launched(std::vector<std::string> command) {
  std::vector<std::string> words = HostLauncher();
  words.insert(words.end(), command.begin(), command.end());
  return words;
}

// A change of the emulated system that is undone with the object, or
// before, by Undo: the test authority among the trusted roots, a proxy in
// the user's settings. A failure to undo is a failure of the test.
class SystemChange {
 public:
  SystemChange() = default;
  ~SystemChange() { Undo(); }
  SystemChange(const SystemChange&) = delete;
  SystemChange& operator=(const SystemChange&) = delete;

  // Undoes a change still in place, then runs `apply`; when that succeeds,
  // `undo` is what undoes it. False (a test failure that names the
  // command) when it fails.
  bool Apply(const std::vector<std::string>& apply, std::vector<std::string> undo) {
    Undo();
    if (!RunToEnd(apply, {})) return false;
    m_undo = std::move(undo);
    return true;
  }
  void Undo() {
    if (m_undo.empty()) return;
    EXPECT_TRUE(RunToEnd(m_undo, {})) << "the emulated system keeps a test's change";
    m_undo.clear();
  }

 private:
  std::vector<std::string> m_undo;  // empty: nothing to undo
};

// A host whose proxy decision sees no proxy at all, whatever the machine's
// environment says, which trusts the tests' authority, and which can
// neither show a dialog nor reach a desktop's secret store.
class DownloadTest : public InstallFixture {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(MakeTestCertificates(m_certificates.path(), m_authority, error)) << error;
    if (Emulated()) TrustAuthority();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(m_http.Start({.m_root = Packages(), .m_log = Log()})) << m_http.error();
    ASSERT_TRUE(m_https.Start(
        {.m_root = Packages(), .m_log = Log(), .m_certificate = m_authority.m_certificate, .m_key = m_authority.m_key}))
        << m_https.error();
    SetProxy("");
    InstallFixture::SetUp();
    PackFolder("addon.pkg", kUuid, "1.0", kAddOnFiles);
  }

  std::string Log() const { return m_root / "requests.log"; }

  // The proxy ("http://host:port", "" none) the host's next start finds in
  // its environment, or in the user's settings of the emulated system.
  void SetProxy(const std::string& proxy) {
    auto& environment = m_host.options().environment;
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY", "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) {
      environment.emplace_back(name, std::nullopt);
    }
    if (Emulated()) {
      SetEmulatedProxy(proxy);
      return;
    }
    if (!proxy.empty()) {
      environment.emplace_back("http_proxy", proxy);
      environment.emplace_back("https_proxy", proxy);
    }
    environment.emplace_back("VORNETH_TEST_CERTIFICATE_AUTHORITY", m_authority.m_authority);
  }

  // The settings take "host:port"; "direct" is what every test leaves.
  void SetEmulatedProxy(const std::string& proxy) {
    if (proxy.empty()) {
      m_proxySetting.Undo();
      return;
    }
    ASSERT_TRUE(proxy.starts_with(kOriginPrefix)) << proxy;
    const std::string script = VORNETH_WINE_PROXY_SETTINGS_SCRIPT;
    EXPECT_TRUE(m_proxySetting.Apply({script, "proxy", proxy.substr(sizeof(kOriginPrefix) - 1)}, {script, "direct"}));
  }

  // The test authority among the emulated system's trusted roots, for the
  // hosts started from now on.
  void TrustAuthority() {
    const char* tool = std::getenv("VORNETH_WINDOWS_ADD_ROOT_CERTIFICATE");
    ASSERT_TRUE(tool != nullptr && *tool != '\0')
        << "a Windows host under test needs VORNETH_WINDOWS_ADD_ROOT_CERTIFICATE (add_root_certificate.exe)";
    const std::string authority = "Z:" + m_authority.m_authority;
    ASSERT_TRUE(m_trust.Apply(Launched({tool, authority}), Launched({tool, "--remove", authority})));
  }
  // The hosts started from now on do not trust the test authority.
  void DistrustAuthority() {
    m_host.options().environment.emplace_back("VORNETH_TEST_CERTIFICATE_AUTHORITY", std::nullopt);
    m_trust.Undo();
  }

  // `path` on the plain server, named so that a proxy is asked for the
  // whole URL: the Windows client under wine asks a proxy for "GET /path"
  // alone when the server is an IP address, and a name fixes that.
  std::string ProxiedUrl(const std::string& path) const {
    return Emulated() ? "http://localhost:" + std::to_string(m_http.port()) + path : m_http.Url(path);
  }
  void Restart() {
    ASSERT_TRUE(m_host.Start()) << m_host.error();
    ASSERT_TRUE(m_host.Send(Create(kPageUrl, "1.0", "p")));
  }

  // "InstallAddOns" of the one package at `url`: the answer's response.
  // An event arrives only with a success.
  std::string InstallFrom(const std::string& url, milliseconds wait = kAnswer) {
    const std::vector<Json::Value> frames = Install("", "[" + Descriptor(kUuid, "1.0", url) + "]", "d", wait);
    if (frames.empty()) return "no answer";
    const bool succeeded = frames.back()["response"] == Parse("[200]");
    EXPECT_EQ(frames.size(), succeeded ? 2u : 1u) << "one event with a success, none otherwise";
    EXPECT_EQ(Recorded(kUuid), succeeded);
    return frames.back()["response"].toStyledString();
  }

  ScratchDir m_certificates;
  TestCertificates m_authority;
  TestServer m_http;
  TestServer m_https;
  // Changes of an emulated system, after the authority's file, which the
  // removal reads.
  SystemChange m_trust;
  SystemChange m_proxySetting;
};

TEST_F(DownloadTest, InstallsOverHttpAndHttpsAskingForAPackage) {
  EXPECT_EQ(InstallFrom(m_http.Url("/addon.pkg")), Parse("[200]").toStyledString());
  EXPECT_EQ(Records()[0]["origin"], Parse("[\"" + m_http.Origin() + "\"]"));
  EXPECT_EQ(ReadBytes(AddOnFolder(kUuid, "1.0") + "/data/table.txt"), "one two three\n");
  ASSERT_EQ(
      Parse(Ask(HostCommand("UninstallAddOn", std::string("[\"") + kUuid + "\", \"1.0\"]", "u", "p")))["response"],
      200);

  EXPECT_EQ(InstallFrom(m_https.Url("/addon.pkg?from=tls")), Parse("[200]").toStyledString());
  EXPECT_EQ(Records()[0]["origin"], Parse("[\"" + m_https.Origin() + "\"]"));

  const std::vector<Json::Value> requests = ReadRequestLog(Log());
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["target"], "/addon.pkg");
  EXPECT_EQ(requests[1]["target"], "/addon.pkg?from=tls");
  for (const Json::Value& request : requests) {
    EXPECT_EQ(request["method"], "GET");
    EXPECT_EQ(request["accept"], "application/octet-stream");
    EXPECT_EQ(request["user_agent"], "Vorneth-UserAgent");
  }
  EXPECT_TRUE(requests[1]["tls"].asBool());
}

TEST_F(DownloadTest, ABrokenOrHostileServerInstallsNothing) {
  const std::string chunkedCut = m_http.Url("/_/chunked-cut?send=3000");
  const struct {
    std::string url;
    const char* response;
    milliseconds wait = kAnswer;
  } cases[] = {
      {m_http.Url("/missing.pkg"), R"(["Error", 404])"},
      {m_http.Url("/_/status/500"), R"(["Error", 500])"},
      // A 200 without a body is no package.
      {m_http.Url("/_/empty"), R"(["Error", 404])"},
      // Cut short, announced or chunked: a failed download.
      {m_http.Url("/_/short?announce=5000&send=100"), R"(["Error", -1])"},
      {chunkedCut, R"(["Error", -1])"},
      // Never from https down to http; endless redirects end.
      {m_https.Url("/_/redirect?to=" + m_http.Url("/addon.pkg")), R"(["Error", -1])"},
      {m_http.Url("/_/redirect-loop"), R"(["Error", -1])"},
      // Larger than a package may be: announced, or found while reading.
      {m_http.Url("/_/huge?size=300000000"), R"(["Error", 413])"},
      {m_http.Url("/_/huge?size=300000000&chunked=1"), R"(["Error", 413])", kLargeAnswer},
      // Nobody listening.
      {"http://127.0.0.1:1/addon.pkg", R"(["Error", -1])"},
  };
  for (const auto& [url, response, wait] : cases) {
    // wine's WinHTTP reports a chunked body whose connection closes before
    // the last chunk as a body that ended: the bytes then fail as a package
    // (no event, nothing recorded), not as a download.
    if (Emulated() && url == chunkedCut) {
      EXPECT_NE(InstallFrom(url), Parse("[200]").toStyledString()) << url;
      continue;
    }
    EXPECT_EQ(InstallFrom(url, wait), Parse(response).toStyledString()) << url;
  }
  // Upwards from http to https is followed.
  EXPECT_EQ(InstallFrom(m_http.Url("/_/redirect?to=" + m_https.Url("/addon.pkg"))), Parse("[200]").toStyledString());
}

// A Linux host loads its HTTP services and its ZIP library from modules
// beside it on its first download: a module missing, not a library, or
// without the entry point fails that download and nothing else; once both
// are there, the same host downloads.
TEST_F(DownloadTest, WithoutItsModulesADownloadFailsAndTheHostServesOn) {
  if (Emulated() || !TracesAreRecorded()) GTEST_SKIP() << "the modules beside a Linux host of this build";
  const std::filesystem::path host = m_root / "bare/vorneth-host";
  std::filesystem::create_directories(host.parent_path());
  std::filesystem::copy_file(VORNETH_HOST_PATH, host);
  m_host.options().host_path = host;
  const struct {
    std::string http;  // copied beside the host as its HTTP module; empty: none
    std::string zip;   // the same for its ZIP module
    const char* trace;
    const char* response;
  } cases[] = {
      {"", VORNETH_ZIP_MODULE_PATH, "the module could not be loaded", R"(["Error", -1])"},
      {VORNETH_HOST_PATH, VORNETH_ZIP_MODULE_PATH, "the module could not be loaded", R"(["Error", -1])"},
      {VORNETH_NOT_A_MODULE_PATH, VORNETH_ZIP_MODULE_PATH, "the module has no entry point", R"(["Error", -1])"},
      {VORNETH_HTTP_MODULE_PATH, VORNETH_NOT_A_MODULE_PATH, "the module has no entry point", R"(["Error", -1])"},
      {VORNETH_HTTP_MODULE_PATH, VORNETH_ZIP_MODULE_PATH, "", "[200]"},
  };
  for (const auto& [http, zip, trace, response] : cases) {
    for (const auto& [source, name] : {std::pair(http, "vorneth-http.so"), std::pair(zip, "vorneth-zip.so")}) {
      std::filesystem::remove(host.parent_path() / name);
      if (!source.empty()) std::filesystem::copy_file(source, host.parent_path() / name);
    }
    ClearTrace();
    Restart();
    EXPECT_EQ(InstallFrom(m_http.Url("/addon.pkg")), Parse(response).toStyledString()) << http << " " << zip;
    if (*trace != '\0') {
      EXPECT_TRUE(HostTraced(trace)) << http << " " << zip;
    }
    EXPECT_EQ(Parse(Ask(HostCommand("GetHostVersion", "[]", "v", "p")))["callbackId"], "v") << "served on";
  }
}

TEST_F(DownloadTest, AServerTheSystemDoesNotTrustIsRefused) {
  DistrustAuthority();
  Restart();
  EXPECT_EQ(InstallFrom(m_https.Url("/addon.pkg")), Parse(R"(["Error", -1])").toStyledString());
  EXPECT_TRUE(ReadRequestLog(Log()).empty()) << "nothing reaches a server that failed the handshake";
}

TEST_F(DownloadTest, AProxyThatNeverAcceptsIsTriedAtMostFiveTimes) {
  TestServer proxy;
  ASSERT_TRUE(
      proxy.Start({.m_log = InstallFixture::m_root / "proxy.log", .m_proxy407 = -1, .m_proxySchemes = "NTLM,Basic"}))
      << proxy.error();
  SetProxy(proxy.Origin());
  Restart();
  EXPECT_EQ(InstallFrom(ProxiedUrl("/addon.pkg")), Parse(R"(["Error", 407])").toStyledString());
  // Nothing stored and no dialog: the user's logon, then the empty answers
  // of the dialog for NTLM and for Basic, well within the five sends. A
  // Windows host under wine sends the same three: without ntlm_auth wine
  // adds no NTLM leg to the logon pass, and with no user name it has no
  // Basic credential that it could send again by itself.
  const std::vector<Json::Value> tries = ReadRequestLog(m_root / "proxy.log");
  EXPECT_EQ(tries.size(), 3u);
  for (const Json::Value& request : tries) {
    EXPECT_TRUE(request["proxy_auth_scheme"].isNull()) << request.toStyledString();
  }
  EXPECT_TRUE(ReadRequestLog(Log()).empty());
}

TEST_F(DownloadTest, ThroughAProxyThatAsksForBasicCredentials) {
  TinyProxy proxy;
  ASSERT_TRUE(proxy.Start(InstallFixture::m_root / "tinyproxy", "proxy-user", "proxy-secret")) << proxy.error();
  SetProxy(proxy.Origin());
  Restart();
  // No credentials: the proxy keeps refusing.
  EXPECT_EQ(InstallFrom(ProxiedUrl("/addon.pkg")), Parse(R"(["Error", 407])").toStyledString());
  EXPECT_TRUE(ReadRequestLog(Log()).empty());
}

// The same host on a desktop of its own: a Secret Service that may hold the
// proxy's credential and a stand-in for the desktop's password dialog
// (Linux; a Windows host has its own credential store and dialog).
class DesktopDownloadTest : public DownloadTest, protected PrivateDesktop {
 protected:
  void SetUp() override {
    if (!HostLauncher().empty()) GTEST_SKIP() << "the desktop services of a Linux host";
    ASSERT_FALSE(HasFatalFailure()) << "the desktop session did not start";
    DownloadTest::SetUp();
  }
  // The host behind `proxy` with the desktop's bus and display; its data
  // folder stays its own.
  void RestartBehind(const std::string& proxy) {
    SetProxy(proxy);
    for (auto& variable : Desktop()) {
      if (variable.first != "XDG_DATA_HOME") m_host.options().environment.push_back(variable);
    }
    Restart();
  }
  // What reached the proxy, one line per request: the scheme and the user
  // ("-" for none), the first leg of an NTLM exchange as "NTLM 1".
  static std::vector<std::string> Requests(const std::string& log) {
    std::vector<std::string> requests;
    for (const Json::Value& request : ReadRequestLog(log)) {
      const std::string scheme =
          request["proxy_auth_scheme"].isNull() ? "none" : request["proxy_auth_scheme"].asString();
      const std::string user = request["ntlm_message"] == 1          ? "1"
                               : request["proxy_auth_user"].isNull() ? "-"
                                                                     : request["proxy_auth_user"].asString();
      requests.push_back(scheme + " " + user);
    }
    return requests;
  }
};

TEST_F(DesktopDownloadTest, TheLogonThenTheStoredThenThePromptedCredentialsAtMostFiveSends) {
  TestServer proxy;
  ASSERT_TRUE(
      proxy.Start({.m_log = InstallFixture::m_root / "proxy.log", .m_proxy407 = -1, .m_proxySchemes = "NTLM,Basic"}))
      << proxy.error();
  Store(proxy.Origin(), "keeper", "kept secret");
  Dialog("zenity", {{"asker\ntyped secret\nNo\n", 0}});
  RestartBehind(proxy.Origin());
  EXPECT_EQ(InstallFrom(m_http.Url("/addon.pkg")), Parse(R"(["Error", 407])").toStyledString());
  // Five sends: the logon, the stored credential for NTLM and for Basic,
  // the dialog's for NTLM and for Basic. An NTLM send asks without
  // credentials first and then negotiates in two legs.
  EXPECT_EQ(Requests(InstallFixture::m_root / "proxy.log"),
            (std::vector<std::string>{"none -", "none -", "NTLM 1", "NTLM keeper", "Basic keeper", "none -", "NTLM 1",
                                      "NTLM asker", "Basic asker"}));
  const std::vector<std::string> dialog = Call(0);
  EXPECT_NE(std::find(dialog.begin(), dialog.end(),
                      "--text=Please provide authentication credential for " + proxy.Origin() + "."),
            dialog.end());
  EXPECT_FALSE(Called(1));
}

TEST_F(DesktopDownloadTest, ThroughABasicProxyWithCredentialsAskedOnceAndRemembered) {
  TinyProxy proxy;
  ASSERT_TRUE(proxy.Start(InstallFixture::m_root / "tinyproxy", "proxy-user", "proxy-secret")) << proxy.error();
  Dialog("zenity", {{"proxy-user\nproxy-secret\nYes\n", 0}});
  RestartBehind(proxy.Origin());
  EXPECT_EQ(InstallFrom(m_http.Url("/addon.pkg")), Parse("[200]").toStyledString());
  ASSERT_TRUE(Called(0));

  // A later download finds the remembered credential without asking.
  PackFolder("second.pkg", kUuid, "2.0", kAddOnFiles);
  const std::vector<Json::Value> frames =
      Install("", "[" + Descriptor(kUuid, "2.0", m_http.Url("/second.pkg")) + "]", "again");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back()["response"], Parse("[200]"));
  EXPECT_FALSE(Called(1)) << "asked again";
  const std::vector<Json::Value> served = ReadRequestLog(Log());
  ASSERT_EQ(served.size(), 2u);
  EXPECT_TRUE(served[1]["proxy_auth_scheme"].isNull()) << "the proxy's credentials stay with the proxy";
}

}  // namespace
}  // namespace vorneth::testing
