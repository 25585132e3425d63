#include "support/test_servers.h"

#include <arpa/inet.h>
#include <json/reader.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/file_bytes.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr auto kStartTime = std::chrono::seconds(15);
constexpr auto kToolTime = std::chrono::seconds(60);

std::string Join(const std::string& folder, const char* name) {
  return folder + "/" + name;
}

// Runs a command to its end with its output discarded (its standard error
// goes to `log`). False with `error` when it cannot start, runs too long
// or exits with a status other than 0.
bool RunTool(std::vector<std::string> command, const std::string& log, std::string& error) {
  ChildProcess process;
  ChildProcessOptions options;
  options.command = std::move(command);
  options.stderr_path = log;
  if (!process.Start(options)) {
    error = "cannot start " + options.command[0] + ": " + process.error();
    return false;
  }
  process.CloseInput();
  std::string ignored;
  const auto deadline = steady_clock::now() + kToolTime;
  while (steady_clock::now() < deadline) {
    if (process.Read(ignored, milliseconds(100)) == ReadStatus::kEndOfStream) break;
    ignored.clear();
  }
  const std::optional<int> status = process.Wait(milliseconds(5000));
  if (status != 0) {
    error = options.command[0] + " " + options.command[1] + " failed: " + ReadBytes(log);
    return false;
  }
  return true;
}

// A port of 127.0.0.1 that was free a moment ago; 0 when none was found.
uint16_t FreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  uint16_t port = 0;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(probe);
  return port;
}

bool Listens(uint16_t port) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(probe);
  return connected;
}

}  // namespace

bool MakeTestCertificates(const std::string& folder, TestCertificates& certificates, std::string& error) {
  const std::string authorityKey = Join(folder, "authority.key");
  const std::string request = Join(folder, "server.csr");
  const std::string extensions = Join(folder, "server.ext");
  const std::string log = Join(folder, "openssl.log");
  certificates.m_authority = Join(folder, "authority.pem");
  certificates.m_certificate = Join(folder, "server.pem");
  certificates.m_key = Join(folder, "server.key");
  WriteBytes(extensions,
             "subjectAltName=DNS:127.0.0.1,IP:127.0.0.1\n"
             "basicConstraints=critical,CA:FALSE\n"
             "keyUsage=critical,digitalSignature,keyEncipherment\n"
             "extendedKeyUsage=serverAuth\n");
  return RunTool({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", authorityKey, "-out",
                  certificates.m_authority, "-days", "2", "-subj", "/CN=Vorneth Test Authority", "-addext",
                  "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
                 log, error) &&
         RunTool({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", certificates.m_key, "-out", request,
                  "-subj", "/CN=127.0.0.1"},
                 log, error) &&
         RunTool({"openssl", "x509", "-req", "-in", request, "-CA", certificates.m_authority, "-CAkey", authorityKey,
                  "-CAcreateserial", "-out", certificates.m_certificate, "-days", "2", "-extfile", extensions},
                 log, error);
}

bool TestServer::Start(const TestServerOptions& options) {
  Stop();
  m_tls = !options.m_certificate.empty() && !options.m_key.empty();
  ChildProcessOptions child;
  child.command = {"/usr/bin/python3", VORNETH_HTTP_TEST_SERVER_SCRIPT,
                   "--proxy-407",      std::to_string(options.m_proxy407),
                   "--proxy-schemes",  options.m_proxySchemes};
  if (!options.m_root.empty()) child.command.insert(child.command.end(), {"--root", options.m_root});
  if (!options.m_log.empty()) child.command.insert(child.command.end(), {"--log", options.m_log});
  if (m_tls) child.command.insert(child.command.end(), {"--cert", options.m_certificate, "--key", options.m_key});
  if (!m_process.Start(child)) {
    m_error = "cannot start the test server: " + m_process.error();
    return false;
  }
  // The first line is the port.
  std::string output;
  const auto deadline = steady_clock::now() + kStartTime;
  while (output.find('\n') == std::string::npos && steady_clock::now() < deadline) {
    const ReadStatus status = m_process.Read(output, milliseconds(100));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  const int port = std::atoi(output.c_str());
  if (output.find('\n') == std::string::npos || port <= 0 || port > 65535) {
    m_error = "the test server gave no port: \"" + output + "\"";
    Stop();
    return false;
  }
  m_port = static_cast<uint16_t>(port);
  return true;
}

void TestServer::Stop() {
  if (!m_process.running()) return;
  m_process.CloseInput();
  if (!m_process.Wait(milliseconds(5000))) m_process.Kill();
  m_port = 0;
}

std::string TestServer::Origin() const {
  return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

bool TinyProxy::Start(const std::string& folder, const std::string& user, const std::string& password) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);  // a missing folder shows in the error below
  const std::string config = Join(folder, "tinyproxy.conf");
  for (int attempt = 0; attempt < 3; ++attempt) {
    m_process.Kill();
    m_port = FreePort();
    if (m_port == 0) continue;
    std::string text = "Port " + std::to_string(m_port);
    text += "\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nLogLevel Info\nDisableViaHeader Yes\n";
    text += "LogFile \"" + Join(folder, "tinyproxy.log") + "\"\n";
    text += "BasicAuth ";
    text += user;
    text += ' ';
    text += password;
    text += '\n';
    WriteBytes(config, text);
    ChildProcessOptions options;
    options.command = {"tinyproxy", "-d", "-c", config};
    options.stderr_path = Join(folder, "tinyproxy.err");
    if (!m_process.Start(options)) {
      m_error = "cannot start tinyproxy: " + m_process.error();
      return false;
    }
    const auto deadline = steady_clock::now() + kStartTime;
    while (m_process.running() && !Listens(m_port) && steady_clock::now() < deadline) {
      if (m_process.Wait(milliseconds(20))) break;  // ended: the port was taken
    }
    if (m_process.running() && Listens(m_port)) return true;
  }
  m_error = "tinyproxy does not listen: " + ReadBytes(Join(folder, "tinyproxy.err")) +
            ReadBytes(Join(folder, "tinyproxy.log"));
  m_port = 0;
  return false;
}

std::vector<Json::Value> ReadRequestLog(const std::string& path) {
  std::vector<Json::Value> entries;
  std::istringstream lines(ReadBytes(path));
  std::string line;
  Json::Reader reader;
  while (std::getline(lines, line)) {
    Json::Value entry;
    if (!line.empty() && reader.parse(line, entry, false)) entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace vorneth::testing
