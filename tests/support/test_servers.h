// Real HTTP(S) servers and a test certificate authority for the download
// tests, on 127.0.0.1 only (Linux).
//
// MakeTestCertificates writes, with the openssl command-line tool, a fresh
// certificate authority and a server certificate for 127.0.0.1 signed by it
// into a folder the caller owns (a ScratchDir). The server certificate
// names 127.0.0.1 both as an IP address and as a DNS name, since some TLS
// stacks match a literal address only against the DNS form.
//
// TestServer runs tests/support/http_test_server.py (see its docstring for
// the routes, the request log and the proxy behaviour) as a child process:
// Start waits a bounded time for the port the server prints; Stop, or the
// destructor, closes the server's input, on which it ends, and kills it if
// it does not. A server never outlives its object, nor the test program.
//
// ReadRequestLog parses the server's request log, one JSON object per
// request in arrival order, with the members "method", "target", "host",
// "accept", "user_agent", "cache_control", "pragma", "accept_encoding",
// "proxy_auth_scheme", "proxy_auth_user", "ntlm_message" and "tls" (null
// when the request had no such header). A request is logged before it is
// answered, so once a client has its answer the line is there.
//
// A host process under test reaches these through its environment, set
// in HostProcessOptions (never in the test's own): VORNETH_TEST_CERTIFICATE_AUTHORITY
// names m_authority, so that it trusts the test servers; http_proxy and
// https_proxy name a proxy's Origin(), which libproxy then gives for every
// URL, 127.0.0.1 included (no_proxy takes hosts out again).
//
// Nothing throws; failures come back as return values with a text that says
// why. One object is used from one thread at a time; servers themselves
// answer any number of clients at once.
#ifndef VORNETH_TESTS_SUPPORT_TEST_SERVERS_H_
#define VORNETH_TESTS_SUPPORT_TEST_SERVERS_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/child_process.h"

namespace vorneth::testing {

struct TestCertificates {
  std::string m_authority;      // the authority's certificate (PEM): what a client trusts
  std::string m_certificate{};  // the server's certificate for 127.0.0.1 (PEM)
  std::string m_key{};          // the server's private key (PEM, unencrypted)
};

// Makes a new authority and server certificate in `folder`. False with
// `error` when openssl is missing or fails.
bool MakeTestCertificates(const std::string& folder, TestCertificates& certificates, std::string& error);

struct TestServerOptions {
  // Files under this folder are served by their path; empty: none.
  std::string m_root{};
  // The request log (JSON lines, appended to); empty: no log.
  std::string m_log{};
  // TLS with this certificate and key when both are set.
  std::string m_certificate{};
  std::string m_key{};
  // Proxy requests (absolute URLs and CONNECT): the first m_proxy407 of
  // them are answered 407 (-1: all), offering m_proxySchemes (comma
  // separated, for example "Negotiate,NTLM,Basic"); the rest are forwarded
  // or tunnelled to 127.0.0.1.
  int m_proxy407 = 0;
  std::string m_proxySchemes = "Basic";
};

class TestServer {
 public:
  TestServer() = default;
  ~TestServer() { Stop(); }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Starts the server and reads its port. False with error() when it could
  // not be started or gave no port within a few seconds.
  bool Start(const TestServerOptions& options);
  // Ends the server; harmless when it is not running.
  void Stop();

  uint16_t port() const { return m_port; }
  // "http://127.0.0.1:<port>", or "https://..." for a TLS server: the
  // server text of a download.
  std::string Origin() const;
  // The origin followed by `path` ("/_/empty", "/a.pkg", ...).
  std::string Url(const std::string& path) const { return Origin() + path; }
  const std::string& error() const { return m_error; }

 private:
  ChildProcess m_process;
  uint16_t m_port = 0;
  bool m_tls = false;
  std::string m_error;
};

// Debian's tinyproxy on 127.0.0.1 asking for Basic authentication: a real
// proxy for the end-to-end tests. Its configuration and log go into
// `folder`. It takes a free port that it is told (tinyproxy cannot choose
// one itself), so Start tries a few ports should another program take the
// chosen one first. CONNECT is allowed to every port.
class TinyProxy {
 public:
  TinyProxy() = default;
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  // `folder` is created when missing. False with error() when tinyproxy is
  // missing or does not listen within a few seconds.
  bool Start(const std::string& folder, const std::string& user, const std::string& password);
  uint16_t port() const { return m_port; }
  // "http://127.0.0.1:<port>": the proxy text, as libproxy gives it.
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  const std::string& error() const { return m_error; }

 private:
  ChildProcess m_process;  // killed with the object
  uint16_t m_port = 0;
  std::string m_error;
};

// The entries of the request log at `path`; empty when there is none yet.
std::vector<Json::Value> ReadRequestLog(const std::string& path);

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_TEST_SERVERS_H_
