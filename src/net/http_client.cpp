#include "net/http_client.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "net/proxy_settings.h"
#include "net/request_maker.h"
#include "net/secret_text.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

constexpr uint32_t kAllTlsVersions = kTls10 | kTls11 | kTls12 | kTls13;
constexpr uint32_t kTlsWithout13 = kTls10 | kTls11 | kTls12;
constexpr char kPackageExtension[] = ".pkg";
constexpr char kPackageAcceptHeader[] = "Accept: application/octet-stream";

int32_t AsNumber(HttpError error) {
  return static_cast<int32_t>(error);
}

std::string LowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

// The state of one call: what the call owns from the proxy decision to the
// last byte of the body. Every member goes with the object, credentials
// wiped, transport handles closed.
class HttpExchange {
 public:
  HttpExchange(HttpServices& services, const TraceFunction& trace, const std::string& server)
      : m_services(services), m_trace(trace), m_server(server), m_transport(services.CreateTransport()) {}

  // The whole call; returns the result.
  HttpError Run(const std::string& path, std::string& body, size_t& length, int32_t& status);

 private:
  void ChooseProxy();
  // False when session, connection, request or TLS versions failed (the
  // result is then set and traced).
  bool Open(const ServerParts& parts, const std::string& path);
  void AskForPackage(const std::string& path);
  void Exchange(const std::string& path, std::string& body, size_t& length, int32_t& status);
  // True (with the result set and traced) when `error` is a failure.
  bool Failed(HttpError error, const char* message);
  void EndWithError(HttpError error);
  // Takes the credentials for the next send after a 407; false when the
  // tries are used up.
  bool NextProxyPass(int32_t& status);
  void ReadBody(std::string& body, size_t& length, int32_t& status);
  // Drops what was read of a body that breaks the package limit.
  void RefuseTooLarge(std::string& body, size_t& length, int32_t& status);

  HttpServices& m_services;
  const TraceFunction& m_trace;
  const std::string& m_server;
  std::unique_ptr<HttpTransport> m_transport;
  std::string m_proxy;
  std::string m_bypass;
  SecretText m_user;
  SecretText m_password;
  ProxyAuthScheme m_scheme = ProxyAuthScheme::kNtlm;
  int m_attempts = 0;
  HttpError m_result = kHttpOk;
};

HttpError HttpExchange::Run(const std::string& path, std::string& body, size_t& length, int32_t& status) {
  ChooseProxy();
  ServerParts parts;
  m_result = m_transport->CrackServer(m_server, parts);
  if (m_result != kHttpOk) return m_result;
  if (!Open(parts, path)) return m_result;
  Exchange(path, body, length, status);
  return m_result;
}

// The user's settings decide; discovery runs when they ask for it, and also
// when they cannot be read. The bypass list is always the settings' own.
void HttpExchange::ChooseProxy() {
  UserProxySettings settings;
  HttpError error = kHttpOk;
  AutoProxyOptions options;
  const bool settingsRead = m_services.ReadUserProxySettings(settings, error);
  if (!settingsRead || settings.m_autoDetect) {
    options.m_flags = kAutoProxyAutoDetect;
    options.m_autoDetectTypes = kAutoDetectDhcpAndDns;
  }
  if (settingsRead && !settings.m_autoConfigUrl.empty()) {
    options.m_flags |= kAutoProxyConfigUrl;
    options.m_autoConfigUrl = settings.m_autoConfigUrl;
  }
  std::string discovered;
  if (options.m_flags != 0 && !m_services.GetProxyForUrl(m_server, options, discovered, error)) {
    m_trace.Number("GetLastError ()", AsNumber(error));
    m_trace.Message("no proxy from automatic discovery");
  }
  if (!discovered.empty()) {
    m_proxy = std::move(discovered);
  } else if (settingsRead) {
    m_proxy = settings.m_proxy;
  }
  if (settingsRead) m_bypass = settings.m_bypass;
}

bool HttpExchange::Open(const ServerParts& parts, const std::string& path) {
  if (!m_proxy.empty()) m_trace.Message("RequestMaker::MakeHttpRequest, proxyInfo.active == TRUE");
  HttpError error = m_transport->OpenSession(kHttpUserAgent, m_proxy, m_bypass);
  if (error == kHttpOk) {
    m_trace.Message("Start WinHttpConnect");
    error = m_transport->Connect(parts.m_host, parts.m_port);
  }
  if (error == kHttpOk) {
    // Only a lower-case "https" at the very start asks for TLS.
    const bool secure = m_server.rfind("https", 0) == 0;
    m_trace.Message("Start WinHttpOpenRequest");
    error = m_transport->OpenRequest(path, secure);
    m_trace.Message("Start WinHttpSetOption (WINHTTP_OPTION_SECURE_PROTOCOLS)");
    HttpError protocols = m_transport->SetSecureProtocols(kAllTlsVersions);
    if (protocols != kHttpOk) {
      m_trace.Message("WinHttpSetOption failed, trying without TLS 1.3 - may be Windows 8.1 or lesser");
      protocols = m_transport->SetSecureProtocols(kTlsWithout13);
    }
    if (error == kHttpOk) error = protocols;
  }
  if (error == kHttpOk) return true;
  m_result = error;
  m_trace.Number("scode", AsNumber(error));
  m_trace.Message("Failed to open HTTP conenction");
  return false;
}

// Package paths ask for octet-stream; nothing else depends on it, and a
// header that cannot be added is no reason to stop.
void HttpExchange::AskForPackage(const std::string& path) {
  const std::string lower = LowerAscii(path);
  m_trace.Text("strPath.c_str ()", lower);
  m_trace.Message("RequestMaker::MakeHttpRequest");
  const size_t position = lower.find(kPackageExtension);
  if (position == std::string::npos || position == 0) return;
  const HttpError error = m_transport->AddRequestHeader(kPackageAcceptHeader);
  m_trace.Number("isPkgRequest", static_cast<int32_t>(std::min<size_t>(position, INT32_MAX)));
  m_trace.Message("RequestMaker::MakeHttpRequest hRequest && isPkgRequest");
  if (error != kHttpOk) {
    m_trace.Number("GetLastError ()", AsNumber(error));
    m_trace.Message("Failed WinHttpAddRequestHeaders");
  }
}

bool HttpExchange::Failed(HttpError error, const char* message) {
  if (error == kHttpOk) return false;
  m_trace.Number("GetLastError ()", AsNumber(error));
  m_trace.Message(message);
  EndWithError(error);
  return true;
}

void HttpExchange::EndWithError(HttpError error) {
  m_result = error;
  m_trace.Number("scode", AsNumber(error));
  m_trace.Message("RequestMaker::MakeHttpRequest WinHttpQueryOption");
}

void HttpExchange::Exchange(const std::string& path, std::string& body, size_t& length, int32_t& status) {
  if (!path.empty()) AskForPackage(path);
  m_trace.Message("Start WinHttpSetOption (WINHTTP_OPTION_AUTOLOGON_POLICY)");
  if (Failed(m_transport->SetAutoLogonPolicyLow(), "Failed WinHttpSetOption (WINHTTP_OPTION_AUTOLOGON_POLICY)")) return;
  for (;;) {
    m_trace.Message("Start WinHttpSetCredentials (WINHTTP_AUTH_TARGET_PROXY)");
    if (Failed(m_transport->SetProxyCredentials(m_scheme, m_user, m_password),
               "Failed WinHttpSetCredentials (WINHTTP_AUTH_TARGET_PROXY)")) {
      return;
    }
    m_trace.Message("Start WinHttpSendRequest ");
    if (Failed(m_transport->SendRequest(), "Failed WinHttpSendRequest")) return;
    if (Failed(m_transport->ReceiveResponse(), "Failed WinHttpReceiveResponse")) return;
    m_trace.Message("Start WinHttpQueryHeaders ");
    uint32_t code = 0;
    if (Failed(m_transport->QueryStatusCode(code), "Failed WinHttpQueryHeaders")) return;
    status = static_cast<int32_t>(code);
    if (status == kHttpStatusProxyAuthRequired) {
      if (!NextProxyPass(status)) return;
      continue;
    }
    if (status == kHttpStatusOk) ReadBody(body, length, status);
    return;
  }
}

// The tries after a 407, by their number: 1 a stored credential (or, when
// there is none, straight to 3), 3 the dialog, 2 and 4 the same
// credentials again. Odd tries offer them for NTLM, even ones for Basic.
bool HttpExchange::NextProxyPass(int32_t& status) {
  if (m_attempts == kMaxProxyAuthRetries) return false;
  ++m_attempts;
  const std::string& target = m_proxy;
  if (m_attempts == 1) {
    if (!m_services.ReadStoredProxyCredential(target, m_user, m_password)) {
      m_user.Clear();
      m_password.Clear();
      m_attempts = 3;
    }
  }
  if (m_attempts == 3) {
    m_user.Clear();
    m_password.Clear();
    if (!m_services.PromptProxyCredentials(target, m_user, m_password)) {
      // Cancelled: the next send goes out without credentials.
      m_user.Clear();
      m_password.Clear();
    }
  }
  m_scheme = m_attempts % 2 == 1 ? ProxyAuthScheme::kNtlm : ProxyAuthScheme::kBasic;
  status = 0;
  return true;
}

void HttpExchange::RefuseTooLarge(std::string& body, size_t& length, int32_t& status) {
  m_trace.Message("response body larger than a package may be: not read further");
  std::string().swap(body);
  length = 0;
  status = kHttpStatusTooLarge;
}

void HttpExchange::ReadBody(std::string& body, size_t& length, int32_t& status) {
  std::string().swap(body);
  length = 0;
  std::optional<uint64_t> announced;
  if (m_transport->QueryContentLength(announced) != kHttpOk) announced.reset();
  if (announced && *announced > kMaxPackageBytes) return RefuseTooLarge(body, length, status);
  if (announced) body.reserve(static_cast<size_t>(*announced));
  std::vector<uint8_t> chunk;
  size_t available = 0;
  do {
    m_trace.Message("Start WinHttpQueryDataAvailable ");
    available = 0;
    const HttpError error = m_transport->QueryDataAvailable(available);
    if (error != kHttpOk) {
      m_result = error;
      m_trace.Number("scode", AsNumber(error));
      m_trace.Message("WinHttpQueryDataAvailable failed");
      return;
    }
    if (available == 0) break;
    if (available > kMaxPackageBytes - length) return RefuseTooLarge(body, length, status);
    m_trace.Number("dwSize", static_cast<int32_t>(std::min<size_t>(available, INT32_MAX)));
    m_trace.Message("Start WinHttpQueryDataAvailable, data length is");
    // One chunk buffer for the whole body, grown to the largest chunk: the
    // bytes are copied once more from there, but the body's new bytes are
    // never zero-filled first, and the chunk stays in the cache.
    if (chunk.size() < available) chunk.resize(available);
    size_t read = 0;
    const HttpError readError = m_transport->ReadData(chunk.data(), available, read);
    if (readError != kHttpOk) {
      // A failed read leaves the connection unusable; asking again would
      // only fail again.
      m_result = readError;
      m_trace.Number("scode", AsNumber(readError));
      m_trace.Message("WinHttpReadData failed");
      return;
    }
    body.append(reinterpret_cast<const char*>(chunk.data()), std::min(read, available));
    length = body.size();
  } while (available != 0);
  if (announced && length < *announced) {
    m_trace.Message("response body shorter than its announced length");
    m_result = kHttpErrorConnectionError;
  }
}

}  // namespace

int32_t RunHttpRequest(HttpServices& services, const std::string& server, const std::string& path, std::string& body,
                       size_t& length, int32_t& status) {
  TraceFunction trace("RequestMaker::MakeHttpRequest");
  HttpExchange exchange(services, trace, server);
  const int32_t result = AsNumber(exchange.Run(path, body, length, status));
  trace.SetResult(result);
  return result;
}

}  // namespace vorneth
