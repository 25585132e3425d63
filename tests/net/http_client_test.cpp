// The download client's own logic against scripted services: which proxy
// it takes, how it opens the exchange, the order of the proxy
// authentication passes and what it keeps of a body.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "net/request_maker.h"

namespace vorneth {
namespace {

// What the scripted system answers; every call is written to `log`.
struct Script {
  bool settingsReadable = true;
  UserProxySettings settings;
  bool discoveryWorks = true;
  std::string discoveredProxy;
  bool refuseTls13 = false;
  bool refuseAllTls = false;
  bool stored = false;
  bool promptAnswers = true;
  std::deque<uint32_t> statuses;  // one per send; the last one repeats
  HttpError failSend = kHttpOk;   // from the second send on, when set
  std::optional<uint64_t> contentLength;
  std::deque<std::string> chunks;  // the body as the transport offers it
  size_t announceAvailable = 0;    // when set, the first availability count
  HttpError failRead = kHttpOk;    // the read of the second chunk fails
  std::vector<std::string> log;
};

class ScriptedTransport final : public HttpTransport {
 public:
  explicit ScriptedTransport(Script& script) : m_script(script) {}
  HttpError CrackServer(const std::string& server, ServerParts& parts) override {
    const size_t colon = server.rfind(':');
    if (server.find("://") == std::string::npos) return kHttpErrorInvalidUrl;
    parts.m_scheme = server.substr(0, server.find("://"));
    parts.m_host = server.substr(server.find("://") + 3, colon - server.find("://") - 3);
    parts.m_port = static_cast<uint16_t>(std::stoi(server.substr(colon + 1)));
    return kHttpOk;
  }
  HttpError OpenSession(const std::string& agent, const std::string& proxy, const std::string& bypass) override {
    Log("session " + agent + " proxy=" + proxy + " bypass=" + bypass);
    return kHttpOk;
  }
  HttpError SetSecureProtocols(uint32_t protocols) override {
    Log("protocols " + std::to_string(protocols));
    if (m_script.refuseAllTls || (m_script.refuseTls13 && (protocols & kTls13) != 0)) return kHttpErrorInvalidParameter;
    return kHttpOk;
  }
  HttpError Connect(const std::string& host, uint16_t port) override {
    Log("connect " + host + " " + std::to_string(port));
    return kHttpOk;
  }
  HttpError OpenRequest(const std::string& path, bool secure) override {
    Log("request " + path + (secure ? " secure" : " plain"));
    return kHttpOk;
  }
  HttpError AddRequestHeader(const std::string& header) override {
    Log("header " + header);
    return kHttpOk;
  }
  HttpError SetAutoLogonPolicyLow() override { return kHttpOk; }
  HttpError SetProxyCredentials(ProxyAuthScheme scheme, const SecretText& user, const SecretText& password) override {
    m_credentials = std::string(scheme == ProxyAuthScheme::kNtlm ? "NTLM" : "Basic") + " " +
                    (user.empty() ? "-" : std::string(user.view()) + ":" + std::string(password.view()));
    return kHttpOk;
  }
  HttpError SendRequest() override {
    ++m_sends;
    if (m_sends > 1 && m_script.failSend != kHttpOk) return m_script.failSend;
    Log("send " + m_credentials);
    return kHttpOk;
  }
  HttpError ReceiveResponse() override { return kHttpOk; }
  HttpError QueryStatusCode(uint32_t& status) override {
    status = m_script.statuses.front();
    if (m_script.statuses.size() > 1) m_script.statuses.pop_front();
    return kHttpOk;
  }
  HttpError QueryContentLength(std::optional<uint64_t>& length) override {
    length = m_script.contentLength;
    return kHttpOk;
  }
  HttpError QueryDataAvailable(size_t& count) override {
    if (m_script.announceAvailable != 0) {
      count = std::exchange(m_script.announceAvailable, 0);
      return kHttpOk;
    }
    count = m_script.chunks.empty() ? 0 : m_script.chunks.front().size();
    return kHttpOk;
  }
  HttpError ReadData(uint8_t* buffer, size_t size, size_t& read) override {
    if (m_script.chunks.empty()) return kHttpErrorIncorrectHandleState;
    if (++m_reads == 2 && m_script.failRead != kHttpOk) return m_script.failRead;
    const std::string chunk = m_script.chunks.front();
    m_script.chunks.pop_front();
    read = std::min(size, chunk.size());
    std::memcpy(buffer, chunk.data(), read);
    return kHttpOk;
  }

 private:
  void Log(std::string entry) { m_script.log.push_back(std::move(entry)); }
  Script& m_script;
  std::string m_credentials;
  int m_sends = 0;
  int m_reads = 0;
};

class ScriptedServices final : public HttpServices {
 public:
  explicit ScriptedServices(Script& script) : m_script(script) {}
  bool ReadUserProxySettings(UserProxySettings& settings, HttpError& error) override {
    if (!m_script.settingsReadable) {
      error = kHttpErrorInternal;
      return false;
    }
    settings = m_script.settings;
    return true;
  }
  bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& options, std::string& proxy,
                      HttpError& error) override {
    m_script.log.push_back("discover " + url + " flags=" + std::to_string(options.m_flags) +
                           " types=" + std::to_string(options.m_autoDetectTypes) + " pac=" + options.m_autoConfigUrl);
    if (!m_script.discoveryWorks) {
      error = kHttpErrorAutodetectionFailed;
      return false;
    }
    proxy = m_script.discoveredProxy;
    return true;
  }
  std::unique_ptr<HttpTransport> CreateTransport() override { return std::make_unique<ScriptedTransport>(m_script); }
  bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password) override {
    m_script.log.push_back("stored " + target);
    if (!m_script.stored) return false;
    user.Assign("keeper");
    password.Assign("kept");
    return true;
  }
  bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password) override {
    m_script.log.push_back("prompt " + target);
    if (!m_script.promptAnswers) return false;
    user.Assign("asked");
    password.Assign("typed");
    return true;
  }

 private:
  Script& m_script;
};

struct Outcome {
  int32_t result = -2;
  std::string body = "untouched";
  size_t length = 99;
  int32_t status = -1;
};

Outcome Fetch(Script& script, const std::string& server = "http://files.test:8080",
              const std::string& path = "/a.pkg") {
  ScriptedServices services(script);
  Outcome outcome;
  outcome.result = RunHttpRequest(services, server, path, outcome.body, outcome.length, outcome.status);
  return outcome;
}

std::vector<std::string> Matching(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> found;
  std::copy_if(log.begin(), log.end(), std::back_inserter(found),
               [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
  return found;
}

Script Serving(std::deque<std::string> chunks) {
  Script script;
  script.statuses = {200};
  script.chunks = std::move(chunks);
  return script;
}

TEST(HttpClientTest, ProxyComesFromDiscoveryTheSettingsOrNowhere) {
  Script unreadable = Serving({});
  unreadable.settingsReadable = false;
  unreadable.discoveredProxy = "http://wpad.proxy:3128";
  Fetch(unreadable);
  EXPECT_EQ(Matching(unreadable.log, "discover"),
            std::vector<std::string>{"discover http://files.test:8080 flags=1 types=3 pac="});
  EXPECT_EQ(Matching(unreadable.log, "session"),
            std::vector<std::string>{"session Vorneth-UserAgent proxy=http://wpad.proxy:3128 bypass="});

  Script script = Serving({});
  script.settings = {true, "http://conf.test/proxy.pac", "fixed:8080", "*.local"};
  script.discoveryWorks = false;
  Fetch(script);
  EXPECT_EQ(Matching(script.log, "discover"),
            std::vector<std::string>{"discover http://files.test:8080 flags=3 types=3 pac=http://conf.test/proxy.pac"});
  EXPECT_EQ(Matching(script.log, "session"),
            std::vector<std::string>{"session Vorneth-UserAgent proxy=fixed:8080 bypass=*.local"});

  Script direct = Serving({});
  direct.settings.m_proxy = "";
  Fetch(direct);
  EXPECT_TRUE(Matching(direct.log, "discover").empty());
  EXPECT_EQ(Matching(direct.log, "session"), std::vector<std::string>{"session Vorneth-UserAgent proxy= bypass="});
}

TEST(HttpClientTest, TlsOnlyForALowerCaseHttpsServerAndWithoutVersion13WhereRefused) {
  Script script = Serving({"x"});
  script.refuseTls13 = true;
  const Outcome outcome = Fetch(script, "https://files.test:443", "/dir/Addon.PKG?v=1");
  EXPECT_EQ(outcome.result, kHttpExchangeDone);
  EXPECT_EQ(outcome.body, "x");
  EXPECT_EQ(Matching(script.log, "request"), std::vector<std::string>{"request /dir/Addon.PKG?v=1 secure"});
  EXPECT_EQ(Matching(script.log, "connect"), std::vector<std::string>{"connect files.test 443"});
  EXPECT_EQ(Matching(script.log, "protocols"),
            (std::vector<std::string>{"protocols " + std::to_string(0x2A80), "protocols " + std::to_string(0xA80)}));
  EXPECT_EQ(Matching(script.log, "header"), std::vector<std::string>{"header Accept: application/octet-stream"});

  Script capitals = Serving({});
  Fetch(capitals, "HTTPS://files.test:443", "/.pkg");
  EXPECT_EQ(Matching(capitals.log, "request"), std::vector<std::string>{"request /.pkg plain"});
  Script leading = Serving({});
  Fetch(leading, "http://files.test:80", ".pkg/file");
  EXPECT_TRUE(Matching(leading.log, "header").empty());

  Script refused = Serving({"never"});
  refused.refuseAllTls = true;
  Outcome failed = Fetch(refused);
  EXPECT_EQ(failed.result, static_cast<int32_t>(kHttpErrorInvalidParameter));
  EXPECT_TRUE(Matching(refused.log, "send").empty());
  EXPECT_EQ(failed.body, "untouched");
  EXPECT_EQ(failed.status, -1);

  Script unsplittable = Serving({});
  EXPECT_EQ(Fetch(unsplittable, "files.test").result, static_cast<int32_t>(kHttpErrorInvalidUrl));
  EXPECT_TRUE(Matching(unsplittable.log, "session").empty());
}

TEST(HttpClientTest, ProxyAuthenticationTriesLogonStoredThenPromptedAtMostFiveTimes) {
  Script script = Serving({});
  script.settings.m_proxy = "http://proxy.test:3128";
  script.statuses = {407};
  script.stored = true;
  Outcome outcome = Fetch(script);
  EXPECT_EQ(outcome.result, kHttpExchangeDone);
  EXPECT_EQ(outcome.status, 407);
  EXPECT_EQ(outcome.body, "untouched");
  EXPECT_EQ(Matching(script.log, "send"),
            (std::vector<std::string>{"send NTLM -", "send NTLM keeper:kept", "send Basic keeper:kept",
                                      "send NTLM asked:typed", "send Basic asked:typed"}));
  EXPECT_EQ(Matching(script.log, "stored"), std::vector<std::string>{"stored http://proxy.test:3128"});
  EXPECT_EQ(Matching(script.log, "prompt"), std::vector<std::string>{"prompt http://proxy.test:3128"});

  // Nothing stored, the dialog cancelled, and the proxy gives in at last.
  Script cancelled = Serving({"ok"});
  cancelled.settings.m_proxy = "http://proxy.test:3128";
  cancelled.statuses = {407, 407, 200};
  cancelled.promptAnswers = false;
  outcome = Fetch(cancelled);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.body, "ok");
  EXPECT_EQ(Matching(cancelled.log, "send"), (std::vector<std::string>{"send NTLM -", "send NTLM -", "send Basic -"}));

  // A 407 without a proxy asks for an empty target; the status is cleared
  // before the retry that then fails.
  Script noProxy = Serving({});
  noProxy.statuses = {407};
  noProxy.failSend = kHttpErrorConnectionError;
  outcome = Fetch(noProxy);
  EXPECT_EQ(outcome.result, static_cast<int32_t>(kHttpErrorConnectionError));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(Matching(noProxy.log, "prompt"), std::vector<std::string>{"prompt "});
}

TEST(HttpClientTest, BodyIsKeptWholeOnlyWhenItIsCompleteAndWithinTheLimit) {
  Script chunked = Serving({"first ", "second ", "third"});
  Outcome outcome = Fetch(chunked);
  EXPECT_EQ(outcome.result, kHttpExchangeDone);
  EXPECT_EQ(outcome.body, "first second third");
  EXPECT_EQ(outcome.length, outcome.body.size());

  Script empty = Serving({});
  outcome = Fetch(empty);
  EXPECT_EQ(outcome.result, kHttpExchangeDone);
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(outcome.body, "");

  Script missing = Serving({"not found page"});
  missing.statuses = {404};
  outcome = Fetch(missing);
  EXPECT_EQ(outcome.status, 404);
  EXPECT_EQ(outcome.body, "untouched");
  EXPECT_EQ(outcome.length, 99u);

  Script announcedTooLarge = Serving({"x"});
  announcedTooLarge.contentLength = uint64_t{kMaxPackageBytes} + 1;
  outcome = Fetch(announcedTooLarge);
  EXPECT_EQ(outcome.result, kHttpExchangeDone);
  EXPECT_EQ(outcome.status, 413);
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(announcedTooLarge.chunks.size(), 1u) << "nothing may be read";

  Script foundTooLarge = Serving({"x"});
  foundTooLarge.announceAvailable = kMaxPackageBytes + 1;
  outcome = Fetch(foundTooLarge);
  EXPECT_EQ(outcome.status, 413);
  EXPECT_EQ(outcome.body, "");

  Script cutShort = Serving({"12345"});
  cutShort.contentLength = 10;
  outcome = Fetch(cutShort);
  EXPECT_EQ(outcome.result, static_cast<int32_t>(kHttpErrorConnectionError));

  Script readFails = Serving({"kept ", "lost"});
  readFails.failRead = kHttpErrorTimeout;
  outcome = Fetch(readFails);
  EXPECT_EQ(outcome.result, static_cast<int32_t>(kHttpErrorTimeout));
  EXPECT_EQ(outcome.body, "kept ");
  EXPECT_EQ(outcome.length, 5u);
}

}  // namespace
}  // namespace vorneth
