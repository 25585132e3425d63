// The libcurl transport and libproxy discovery against real servers on
// 127.0.0.1: the test server of tests/support (HTTP, HTTPS with a test
// authority, and a forward proxy that can answer 407).
//
// In-process cases trust the test authority through CreateCurlTransport;
// the environment seam of CreateHttpTransport and libproxy's reading of the
// proxy variables run in the probe program with an environment of its own.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "net/http_transport.h"
#include "net/http_transport_curl.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"
#include "support/test_servers.h"

namespace vorneth {
namespace {

using testing::ReadRequestLog;
using testing::ScratchDir;
using testing::TestServer;

constexpr size_t kReadLimit = 64u << 20;                   // no body of these tests is larger
constexpr size_t kLargestChunk = size_t{256 + 16} * 1024;  // what the transport holds at most

// One exchange taken step by step as the download client takes it; the
// first failing step ends it.
struct Exchange {
  HttpError m_error = kHttpOk;
  std::string m_failedStep;
  uint32_t m_status = 0;
  std::optional<uint64_t> m_length;
  std::string m_body;
  size_t m_largestChunk = 0;
};

struct Request {
  std::string m_server{};
  std::string m_path{};
  std::string m_proxy{};
  std::vector<std::string> m_headers{};
  ProxyAuthScheme m_scheme = ProxyAuthScheme::kNtlm;
  std::string m_user{};
  std::string m_password{};
};

class Steps {
 public:
  explicit Steps(Exchange& exchange) : m_exchange(exchange) {}
  // Runs `step` unless an earlier one failed; records the first failure.
  bool operator()(const char* name, HttpError error) {
    if (m_exchange.m_error != kHttpOk) return false;
    if (error == kHttpOk) return true;
    m_exchange.m_error = error;
    m_exchange.m_failedStep = name;
    return false;
  }

 private:
  Exchange& m_exchange;
};

// Reads the body until its end, a failure or kReadLimit bytes.
void ReadBody(HttpTransport& transport, Exchange& exchange, size_t limit = kReadLimit) {
  Steps step(exchange);
  std::vector<uint8_t> buffer(size_t{256} * 1024);
  size_t count = 1;
  while (count != 0 && exchange.m_body.size() < limit) {
    if (!step("QueryDataAvailable", transport.QueryDataAvailable(count)) || count == 0) break;
    exchange.m_largestChunk = std::max(exchange.m_largestChunk, count);
    size_t read = 0;
    if (!step("ReadData", transport.ReadData(buffer.data(), std::min(count, buffer.size()), read))) break;
    if (read == 0) break;  // available but nothing read: a fault the test reports through the body
    exchange.m_body.append(reinterpret_cast<const char*>(buffer.data()), read);
  }
}

// Sends once more on an opened transport: credentials, send, status.
void Send(HttpTransport& transport, const Request& request, Exchange& exchange) {
  Steps step(exchange);
  const SecretText user(request.m_user);
  const SecretText password(request.m_password);
  if (step("SetProxyCredentials", transport.SetProxyCredentials(request.m_scheme, user, password)) &&
      step("SendRequest", transport.SendRequest()) && step("ReceiveResponse", transport.ReceiveResponse()) &&
      step("QueryStatusCode", transport.QueryStatusCode(exchange.m_status)) && exchange.m_status == 200 &&
      step("QueryContentLength", transport.QueryContentLength(exchange.m_length))) {
    ReadBody(transport, exchange);
  }
}

// Opens a transport for `request` up to the send.
bool Open(HttpTransport& transport, const Request& request, Exchange& exchange) {
  Steps step(exchange);
  ServerParts parts;
  if (!step("CrackServer", transport.CrackServer(request.m_server, parts)) ||
      !step("OpenSession", transport.OpenSession("Vorneth-UserAgent", request.m_proxy, "")) ||
      !step("Connect", transport.Connect(parts.m_host, parts.m_port)) ||
      !step("OpenRequest", transport.OpenRequest(request.m_path, parts.m_scheme == "https")) ||
      !step("SetSecureProtocols", transport.SetSecureProtocols(kTls10 | kTls11 | kTls12 | kTls13)) ||
      !step("SetAutoLogonPolicyLow", transport.SetAutoLogonPolicyLow())) {
    return false;
  }
  for (const std::string& header : request.m_headers) {
    if (!step("AddRequestHeader", transport.AddRequestHeader(header))) return false;
  }
  return true;
}

class HttpTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_scratch = std::make_unique<ScratchDir>();
    std::string error;
    ASSERT_TRUE(testing::MakeTestCertificates(s_scratch->path(), s_certificates, error)) << error;
    s_root = *s_scratch / "root";
    testing::WriteBytes(s_root + "/addons/sample.pkg", Pattern(3 << 20));
    testing::WriteBytes(s_root + "/small.txt", "small body\n");
    s_http = std::make_unique<TestServer>();
    s_https = std::make_unique<TestServer>();
    ASSERT_TRUE(s_http->Start({.m_root = s_root, .m_log = *s_scratch / "http.log"})) << s_http->error();
    ASSERT_TRUE(s_https->Start({.m_root = s_root,
                                .m_log = *s_scratch / "https.log",
                                .m_certificate = s_certificates.m_certificate,
                                .m_key = s_certificates.m_key}))
        << s_https->error();
  }
  static void TearDownTestSuite() {
    s_http.reset();
    s_https.reset();
    s_scratch.reset();
  }

  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    return bytes;
  }

  // A whole exchange with a transport that trusts the test authority.
  static Exchange Fetch(const Request& request) {
    const auto transport = CreateCurlTransport(s_certificates.m_authority);
    Exchange exchange;
    if (Open(*transport, request, exchange)) Send(*transport, request, exchange);
    return exchange;
  }

  static std::string Url(const TestServer& server, const std::string& path) { return server.Url(path); }

  static inline std::unique_ptr<ScratchDir> s_scratch;
  static inline testing::TestCertificates s_certificates;
  static inline std::string s_root;
  static inline std::unique_ptr<TestServer> s_http;
  static inline std::unique_ptr<TestServer> s_https;
};

TEST_F(HttpTransportTest, CrackServerTakesHostAndPortWithTheSchemesDefault) {
  const auto transport = CreateCurlTransport("");
  struct Case {
    const char* m_server;
    const char* m_scheme;
    const char* m_host;
    uint16_t m_port;
  };
  for (const Case& c : {Case{"http://127.0.0.1:8080", "http", "127.0.0.1", 8080},
                        Case{"https://example.test", "https", "example.test", 443},
                        Case{"HTTPS://Example.Test", "HTTPS", "Example.Test", 443},
                        Case{"http://example.test", "http", "example.test", 80},
                        Case{"http://[::1]:81", "http", "::1", 81}, Case{"https://[::1]", "https", "::1", 443}}) {
    ServerParts parts;
    ASSERT_EQ(transport->CrackServer(c.m_server, parts), kHttpOk) << c.m_server;
    EXPECT_EQ(parts.m_scheme, c.m_scheme) << c.m_server;
    EXPECT_EQ(parts.m_host, c.m_host) << c.m_server;
    EXPECT_EQ(parts.m_port, c.m_port) << c.m_server;
  }
  for (const char* server : {"ftp://example.test", "example.test", "file:///tmp"}) {
    ServerParts parts;
    EXPECT_EQ(transport->CrackServer(server, parts), kHttpErrorUnrecognizedScheme) << server;
  }
  for (const char* server : {"http://", "http://example.test:0", "http://example.test:65536", "http://example.test:8x",
                             "http://[::1", "http://:80"}) {
    ServerParts parts;
    EXPECT_EQ(transport->CrackServer(server, parts), kHttpErrorInvalidUrl) << server;
  }
}

TEST_F(HttpTransportTest, StepsOutOfOrderFailWithTheHandleStateError) {
  const auto transport = CreateCurlTransport("");
  size_t count = 0;
  uint32_t status = 0;
  EXPECT_EQ(transport->Connect("127.0.0.1", 80), kHttpErrorIncorrectHandleState);
  EXPECT_EQ(transport->SendRequest(), kHttpErrorIncorrectHandleState);
  ASSERT_EQ(transport->OpenSession("Vorneth-UserAgent", "", ""), kHttpOk);
  EXPECT_EQ(transport->OpenSession("Vorneth-UserAgent", "", ""), kHttpErrorIncorrectHandleState);
  EXPECT_EQ(transport->OpenRequest("/", false), kHttpErrorIncorrectHandleState);
  ASSERT_EQ(transport->Connect("127.0.0.1", s_http->port()), kHttpOk);
  EXPECT_EQ(transport->AddRequestHeader("Accept: text/plain"), kHttpErrorIncorrectHandleState);
  ASSERT_EQ(transport->OpenRequest("/small.txt", false), kHttpOk);
  EXPECT_EQ(transport->QueryStatusCode(status), kHttpErrorIncorrectHandleState);
  EXPECT_EQ(transport->QueryDataAvailable(count), kHttpErrorIncorrectHandleState);
  EXPECT_EQ(transport->ReceiveResponse(), kHttpErrorIncorrectHandleState);
}

TEST_F(HttpTransportTest, SecureProtocolsTakeTheKnownVersionsOnly) {
  const auto transport = CreateCurlTransport("");
  EXPECT_EQ(transport->SetSecureProtocols(kTls12), kHttpErrorIncorrectHandleState);
  ASSERT_EQ(transport->OpenSession("Vorneth-UserAgent", "", ""), kHttpOk);
  EXPECT_EQ(transport->SetSecureProtocols(0x2A80), kHttpOk);
  EXPECT_EQ(transport->SetSecureProtocols(0xA80), kHttpOk);
  EXPECT_EQ(transport->SetSecureProtocols(0), kHttpErrorInvalidParameter);
  EXPECT_EQ(transport->SetSecureProtocols(kTls12 | 0x8), kHttpErrorInvalidParameter);
  EXPECT_EQ(transport->AddRequestHeader("no colon"), kHttpErrorIncorrectHandleState);
}

TEST_F(HttpTransportTest, BodyArrivesInChunksOverHttpAndHttps) {
  const std::string expected = Pattern(3 << 20);
  for (const TestServer* server : {s_http.get(), s_https.get()}) {
    const Exchange exchange = Fetch({.m_server = server->Origin(), .m_path = "/addons/sample.pkg"});
    ASSERT_EQ(exchange.m_error, kHttpOk) << server->Origin() << " " << exchange.m_failedStep;
    EXPECT_EQ(exchange.m_status, 200u);
    EXPECT_EQ(exchange.m_length, expected.size());
    EXPECT_TRUE(exchange.m_body == expected) << server->Origin() << ": " << exchange.m_body.size() << " bytes";
    // Several chunks, each no more than the transport holds back.
    EXPECT_LE(exchange.m_largestChunk, kLargestChunk);
  }
  const auto https = ReadRequestLog(*s_scratch / "https.log");
  ASSERT_FALSE(https.empty());
  EXPECT_TRUE(https.back()["tls"].asBool());
}

TEST_F(HttpTransportTest, RequestCarriesTheAgentNoCacheAndOnlyTheCallersAccept) {
  const std::string log = *s_scratch / "http.log";
  const size_t before = ReadRequestLog(log).size();
  ASSERT_EQ(Fetch({.m_server = s_http->Origin(), .m_path = "/small.txt"}).m_error, kHttpOk);
  ASSERT_EQ(Fetch({.m_server = s_http->Origin(),
                   .m_path = "/addons/sample.pkg?version=1",
                   .m_headers = {"Accept: application/octet-stream"}})
                .m_error,
            kHttpOk);
  const auto entries = ReadRequestLog(log);
  ASSERT_EQ(entries.size(), before + 2);
  const Json::Value& plain = entries[before];
  const Json::Value& package = entries[before + 1];
  EXPECT_EQ(plain["target"].asString(), "/small.txt");
  EXPECT_EQ(plain["user_agent"].asString(), "Vorneth-UserAgent");
  EXPECT_EQ(plain["cache_control"].asString(), "no-cache");
  EXPECT_EQ(plain["pragma"].asString(), "no-cache");
  EXPECT_TRUE(plain["accept"].isNull());
  EXPECT_TRUE(plain["accept_encoding"].isNull());
  EXPECT_FALSE(plain["tls"].asBool());
  EXPECT_EQ(package["target"].asString(), "/addons/sample.pkg?version=1");
  EXPECT_EQ(package["accept"].asString(), "application/octet-stream");
}

TEST_F(HttpTransportTest, StatusCodesComeBackAsTheyAre) {
  const Exchange missing = Fetch({.m_server = s_https->Origin(), .m_path = "/missing.pkg"});
  EXPECT_EQ(missing.m_error, kHttpOk);
  EXPECT_EQ(missing.m_status, 404u);
  const Exchange failing = Fetch({.m_server = s_http->Origin(), .m_path = "/_/status/503"});
  EXPECT_EQ(failing.m_error, kHttpOk);
  EXPECT_EQ(failing.m_status, 503u);
  const Exchange empty = Fetch({.m_server = s_http->Origin(), .m_path = "/_/empty"});
  EXPECT_EQ(empty.m_error, kHttpOk) << empty.m_failedStep;
  EXPECT_EQ(empty.m_status, 200u);
  EXPECT_EQ(empty.m_length, 0u);
  EXPECT_TRUE(empty.m_body.empty());
}

TEST_F(HttpTransportTest, BodyCutShortIsAConnectionError) {
  for (const TestServer* server : {s_http.get(), s_https.get()}) {
    for (const char* path : {"/_/short?announce=100000&send=1000", "/_/chunked-cut?send=1000"}) {
      const Exchange exchange = Fetch({.m_server = server->Origin(), .m_path = path});
      EXPECT_EQ(exchange.m_status, 200u) << path;
      EXPECT_EQ(exchange.m_error, kHttpErrorConnectionError) << server->Origin() << path;
      EXPECT_EQ(exchange.m_failedStep, "QueryDataAvailable") << path;
      // What arrived before the cut is handed out first.
      EXPECT_EQ(exchange.m_body.size(), 1000u) << path;
    }
  }
}

TEST_F(HttpTransportTest, UntrustedCertificateIsASecureFailure) {
  const auto transport = CreateCurlTransport("");  // the system's authorities only
  Exchange exchange;
  const Request request{.m_server = s_https->Origin(), .m_path = "/small.txt"};
  ASSERT_TRUE(Open(*transport, request, exchange));
  Send(*transport, request, exchange);
  EXPECT_EQ(exchange.m_error, kHttpErrorSecureFailure);
  EXPECT_EQ(exchange.m_failedStep, "SendRequest");
}

TEST_F(HttpTransportTest, RedirectsFollowUpToHttpsButNeverDownToHttp) {
  const std::string toHttps = "/_/redirect?to=" + Url(*s_https, "/small.txt");
  const Exchange up = Fetch({.m_server = s_http->Origin(), .m_path = toHttps});
  EXPECT_EQ(up.m_error, kHttpOk) << up.m_failedStep;
  EXPECT_EQ(up.m_status, 200u);
  EXPECT_EQ(up.m_body, "small body\n");

  const std::string toHttp = "/_/redirect?to=" + Url(*s_http, "/small.txt");
  const Exchange down = Fetch({.m_server = s_https->Origin(), .m_path = toHttp});
  EXPECT_EQ(down.m_error, kHttpErrorRedirectFailed);
  EXPECT_EQ(down.m_failedStep, "SendRequest");

  // A redirect to itself ends after the tenth time: 1 + 10 requests.
  const std::string log = *s_scratch / "http.log";
  const size_t before = ReadRequestLog(log).size();
  const Exchange loop = Fetch({.m_server = s_http->Origin(), .m_path = "/_/redirect-loop"});
  EXPECT_EQ(loop.m_error, kHttpErrorRedirectFailed);
  EXPECT_EQ(ReadRequestLog(log).size(), before + 11);
}

TEST_F(HttpTransportTest, ClosedPortCannotConnect) {
  TestServer gone;
  ASSERT_TRUE(gone.Start({})) << gone.error();
  const std::string origin = gone.Origin();
  gone.Stop();
  const Exchange exchange = Fetch({.m_server = origin, .m_path = "/"});
  EXPECT_EQ(exchange.m_error, kHttpErrorCannotConnect);
  EXPECT_EQ(exchange.m_failedStep, "SendRequest");
}

TEST_F(HttpTransportTest, HugeBodyIsReadOnlyAsFarAsTheReaderWants) {
  for (const char* path : {"/_/huge?size=314572800", "/_/huge?size=314572800&chunked=1"}) {
    const auto transport = CreateCurlTransport(s_certificates.m_authority);
    Exchange exchange;
    const Request request{.m_server = s_http->Origin(), .m_path = path};
    ASSERT_TRUE(Open(*transport, request, exchange));
    Steps step(exchange);
    ASSERT_TRUE(step("SendRequest", transport->SendRequest()) && step("ReceiveResponse", transport->ReceiveResponse()));
    ReadBody(*transport, exchange, 8u << 20);
    EXPECT_EQ(exchange.m_error, kHttpOk) << path << " " << exchange.m_failedStep;
    EXPECT_GE(exchange.m_body.size(), 8u << 20) << path;
    EXPECT_LE(exchange.m_largestChunk, kLargestChunk) << path;
  }
}

// A forward proxy in front of the two servers; `answers407` of its
// requests are refused first (-1: all), offering every scheme.
class HttpProxyTest : public HttpTransportTest {
 protected:
  bool StartProxy(int answers407) {
    m_log = m_scratch / "proxy.log";
    return m_proxy.Start({.m_log = m_log, .m_proxy407 = answers407, .m_proxySchemes = "Negotiate,NTLM,Basic"});
  }
  std::vector<Json::Value> ProxyLog() const { return ReadRequestLog(m_log); }

  ScratchDir m_scratch;
  std::string m_log;
  TestServer m_proxy;
};

TEST_F(HttpProxyTest, ProxyOfTheSessionCarriesHttpAndTunnelsHttps) {
  ASSERT_TRUE(StartProxy(0)) << m_proxy.error();
  for (const TestServer* server : {s_http.get(), s_https.get()}) {
    const Exchange exchange =
        Fetch({.m_server = server->Origin(), .m_path = "/small.txt", .m_proxy = m_proxy.Origin()});
    EXPECT_EQ(exchange.m_error, kHttpOk) << server->Origin() << " " << exchange.m_failedStep;
    EXPECT_EQ(exchange.m_status, 200u);
    EXPECT_EQ(exchange.m_body, "small body\n");
  }
  const auto entries = ProxyLog();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["method"].asString(), "GET");
  EXPECT_EQ(entries[0]["target"].asString(), s_http->Url("/small.txt"));
  EXPECT_EQ(entries[1]["method"].asString(), "CONNECT");
  EXPECT_EQ(entries[1]["target"].asString(), "127.0.0.1:" + std::to_string(s_https->port()));
}

TEST_F(HttpProxyTest, BypassListGoesAroundTheProxy) {
  ASSERT_TRUE(StartProxy(-1)) << m_proxy.error();
  const auto transport = CreateCurlTransport("");
  const Request request{.m_server = s_http->Origin(), .m_path = "/small.txt"};
  Exchange exchange;
  ServerParts parts;
  ASSERT_EQ(transport->CrackServer(request.m_server, parts), kHttpOk);
  ASSERT_EQ(transport->OpenSession("Vorneth-UserAgent", m_proxy.Origin(), "example.test;127.0.0.1"), kHttpOk);
  ASSERT_EQ(transport->Connect(parts.m_host, parts.m_port), kHttpOk);
  ASSERT_EQ(transport->OpenRequest(request.m_path, false), kHttpOk);
  Send(*transport, request, exchange);
  EXPECT_EQ(exchange.m_status, 200u);
  EXPECT_TRUE(ProxyLog().empty());
}

// Every send is one try, whatever the credentials: the proxy's 407 comes
// back as the status (for a tunnel too), and the proxy sees what was
// offered. The user's logon without a Kerberos ticket offers nothing; NTLM
// asks without credentials first, to learn that the proxy takes NTLM.
TEST_F(HttpProxyTest, Proxy407IsAStatusAndEachSendOneTry) {
  ASSERT_TRUE(StartProxy(-1)) << m_proxy.error();
  struct Pass {
    ProxyAuthScheme m_scheme;
    const char* m_user;
    std::vector<std::string> m_seen;  // scheme and user of each request ("" none)
  };
  const Pass passes[] = {{ProxyAuthScheme::kNtlm, "", {" "}},
                         {ProxyAuthScheme::kNtlm, "bob", {" ", "NTLM bob"}},
                         {ProxyAuthScheme::kBasic, "alice", {"Basic alice"}},
                         {ProxyAuthScheme::kBasic, "", {" "}}};
  for (const TestServer* server : {s_http.get(), s_https.get()}) {
    const size_t before = ProxyLog().size();
    const auto transport = CreateCurlTransport(s_certificates.m_authority);
    Request request{.m_server = server->Origin(), .m_path = "/small.txt", .m_proxy = m_proxy.Origin()};
    Exchange opened;
    ASSERT_TRUE(Open(*transport, request, opened)) << opened.m_failedStep;
    std::vector<std::string> expected;
    for (const Pass& pass : passes) {
      request.m_scheme = pass.m_scheme;
      request.m_user = pass.m_user;
      request.m_password = "secret";
      Exchange exchange;
      Send(*transport, request, exchange);
      EXPECT_EQ(exchange.m_error, kHttpOk) << server->Origin() << " " << pass.m_user << " " << exchange.m_failedStep;
      EXPECT_EQ(exchange.m_status, 407u) << server->Origin() << " " << pass.m_user;
      expected.insert(expected.end(), pass.m_seen.begin(), pass.m_seen.end());
    }
    // Besides the first leg of NTLM's negotiation.
    const std::vector<Json::Value> entries = ProxyLog();
    std::vector<std::string> seen;
    for (size_t i = before; i < entries.size(); ++i) {
      if (entries[i]["ntlm_message"].asInt() == 1) continue;
      seen.push_back(entries[i]["proxy_auth_scheme"].asString() + " " + entries[i]["proxy_auth_user"].asString());
    }
    EXPECT_EQ(seen, expected) << server->Origin();
  }
}

TEST_F(HttpProxyTest, SendAfterA407GoesThroughOnTheSameTransport) {
  ASSERT_TRUE(StartProxy(1)) << m_proxy.error();
  const auto transport = CreateCurlTransport(s_certificates.m_authority);
  Request request{.m_server = s_https->Origin(), .m_path = "/small.txt", .m_proxy = m_proxy.Origin()};
  Exchange refused;
  ASSERT_TRUE(Open(*transport, request, refused));
  Send(*transport, request, refused);
  EXPECT_EQ(refused.m_status, 407u);
  request.m_scheme = ProxyAuthScheme::kBasic;
  request.m_user = "alice";
  Exchange accepted;
  Send(*transport, request, accepted);
  EXPECT_EQ(accepted.m_error, kHttpOk) << accepted.m_failedStep;
  EXPECT_EQ(accepted.m_status, 200u);
  EXPECT_EQ(accepted.m_body, "small body\n");
}

// A real proxy that asks for Basic: the user's logon gets its 407, Basic
// with its user the body, for http and for a tunnel to https.
TEST_F(HttpProxyTest, RealProxyWithBasicAuthentication) {
  testing::TinyProxy proxy;
  ASSERT_TRUE(proxy.Start(m_scratch.path(), "alice", "s3cret")) << proxy.error();
  for (const TestServer* server : {s_http.get(), s_https.get()}) {
    const auto transport = CreateCurlTransport(s_certificates.m_authority);
    Request request{.m_server = server->Origin(), .m_path = "/small.txt", .m_proxy = proxy.Origin()};
    Exchange logon;
    ASSERT_TRUE(Open(*transport, request, logon));
    Send(*transport, request, logon);
    EXPECT_EQ(logon.m_error, kHttpOk) << server->Origin() << " " << logon.m_failedStep;
    EXPECT_EQ(logon.m_status, 407u) << server->Origin();
    request.m_scheme = ProxyAuthScheme::kBasic;
    request.m_user = "alice";
    request.m_password = "s3cret";
    Exchange basic;
    Send(*transport, request, basic);
    EXPECT_EQ(basic.m_error, kHttpOk) << server->Origin() << " " << basic.m_failedStep;
    EXPECT_EQ(basic.m_status, 200u) << server->Origin();
    EXPECT_EQ(basic.m_body, "small body\n");
  }
}

TEST_F(HttpTransportTest, TransportsRunOnSeveralThreadsAtOnce) {
  const std::string expected = Pattern(3 << 20);
  std::vector<Exchange> exchanges(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < exchanges.size(); ++i) {
    const TestServer* server = i % 2 == 0 ? s_http.get() : s_https.get();
    threads.emplace_back([&exchanges, i, server] {
      exchanges[i] = Fetch({.m_server = server->Origin(), .m_path = "/addons/sample.pkg"});
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const Exchange& exchange : exchanges) {
    EXPECT_EQ(exchange.m_error, kHttpOk) << exchange.m_failedStep;
    EXPECT_TRUE(exchange.m_body == expected);
  }
}

// The probe program with its own environment: `set` pairs added, every
// proxy variable of the test's own environment removed.
std::string RunProbe(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& set) {
  ChildProcessOptions options;
  options.command = {HTTP_PROBE_PATH};
  options.command.insert(options.command.end(), args.begin(), args.end());
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "no_proxy", "NO_PROXY", "VORNETH_TEST_CERTIFICATE_AUTHORITY"}) {
    options.environment.emplace_back(name, std::nullopt);
  }
  for (const auto& [name, value] : set) options.environment.emplace_back(name, value);
  ChildProcess probe;
  if (!probe.Start(options)) return "cannot start: " + probe.error();
  std::string output;
  for (int i = 0; i < 300 && output.find('\n') == std::string::npos; ++i) {
    if (probe.Read(output, std::chrono::milliseconds(100)) == ReadStatus::kEndOfStream) break;
  }
  probe.Wait(std::chrono::seconds(10));
  return output;
}

TEST(ProxyDiscoveryTest, LibproxyFollowsTheProxyVariablesAndGoesDirectWithout) {
  const std::vector<std::pair<std::string, std::string>> proxies = {
      {"http_proxy", "http://127.0.0.1:3128"}, {"https_proxy", "http://127.0.0.1:3129"}, {"no_proxy", "bypassed.test"}};
  EXPECT_EQ(RunProbe({"proxy", "http://example.test"}, proxies), "proxy http://127.0.0.1:3128\n");
  EXPECT_EQ(RunProbe({"proxy", "https://example.test:8443"}, proxies), "proxy http://127.0.0.1:3129\n");
  EXPECT_EQ(RunProbe({"proxy", "http://bypassed.test"}, proxies), "proxy \n");
  // No settings at all: direct, at once (no discovery reaches the network).
  EXPECT_EQ(RunProbe({"proxy", "http://example.test"}, {}), "proxy \n");
}

TEST_F(HttpTransportTest, EnvironmentNamesTheTestAuthorityOfAHostProcess) {
  const std::vector<std::string> fetch = {"fetch", s_https->Origin(), "/small.txt"};
  EXPECT_EQ(RunProbe(fetch, {{"VORNETH_TEST_CERTIFICATE_AUTHORITY", s_certificates.m_authority}}),
            "status 200 bytes 11\n");
  EXPECT_EQ(RunProbe(fetch, {}), "error " + std::to_string(kHttpErrorSecureFailure) + "\n");
}

}  // namespace
}  // namespace vorneth
