// The HTTP transport on Windows: each step is the WinHTTP call of the same
// name, on a session, a connection and a request handle that the transport
// owns and closes in reverse order. A failing call's GetLastError() is the
// step's result.
//
// A step whose handle is not open yet (or whose response has not arrived)
// fails with ERROR_WINHTTP_INCORRECT_HANDLE_STATE instead of handing
// WinHTTP a null handle. A body that ends before its Content-Length may
// come out as a plain end: the client compares the two.
#include <cwchar>
#include <string>
#include <utility>

#include "net/http_transport.h"
#include "net/windows_secret.h"
#include "net/winhttp_win32.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

constexpr DWORD kAutoLogonLow = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
// "18446744073709551615" and its terminator fit; a longer header value is
// no length this transport can use.
constexpr DWORD kLengthTextUnits = 24;

// `utf8` in wide form into `wide`; false when it is not valid UTF-8.
bool ToWide(const std::string& utf8, std::wstring& wide) {
  wide = WindowsWide(utf8);
  return !wide.empty() || utf8.empty();
}

// The first `length` characters at `text` as UTF-8; empty when invalid.
std::string Utf8Part(const wchar_t* text, DWORD length) {
  std::string utf8;
  if (text != nullptr) WindowsUtf8(text, length, utf8);
  return utf8;
}

// A Content-Length value: digits only, no overflow.
std::optional<uint64_t> ParseLength(const wchar_t* text) {
  uint64_t value = 0;
  if (*text == L'\0') return std::nullopt;
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(*text - L'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

class WinHttpTransport final : public HttpTransport {
 public:
  HttpError CrackServer(const std::string& server, ServerParts& parts) override {
    std::wstring wide;
    if (!ToWide(server, wide) || wide.empty()) return kHttpErrorInvalidUrl;
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof components;
    // Non-zero lengths with null buffers: the components come back as
    // pointers into `wide`. User name and password are not asked for.
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &components)) return Outcome(FALSE);
    // Windows gives an IPv6 literal with its brackets, which the contract
    // leaves off. wine 8 does not split such a text (host "[", port 0):
    // a host with a bracket left is refused.
    std::string host = Utf8Part(components.lpszHostName, components.dwHostNameLength);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of("[]") != std::string::npos) return kHttpErrorInvalidUrl;
    parts.m_scheme = Utf8Part(components.lpszScheme, components.dwSchemeLength);
    parts.m_host = std::move(host);
    parts.m_port = components.nPort;
    return kHttpOk;
  }

  HttpError OpenSession(const std::string& agent, const std::string& proxy, const std::string& bypass) override {
    if (m_session) return kHttpErrorIncorrectHandleState;
    std::wstring wideAgent;
    std::wstring wideProxy;
    std::wstring wideBypass;
    if (!ToWide(agent, wideAgent) || !ToWide(proxy, wideProxy) || !ToWide(bypass, wideBypass)) {
      return kHttpErrorInvalidParameter;
    }
    const bool named = !wideProxy.empty();
    m_session.Reset(WinHttpOpen(wideAgent.c_str(),
                                named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                named ? wideProxy.c_str() : WINHTTP_NO_PROXY_NAME,
                                named && !wideBypass.empty() ? wideBypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0));
    return Outcome(m_session ? TRUE : FALSE);
  }

  HttpError SetSecureProtocols(uint32_t protocols) override {
    if (!m_session) return kHttpErrorIncorrectHandleState;
    DWORD value = protocols;
    return Outcome(WinHttpSetOption(m_session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &value, sizeof value));
  }

  HttpError Connect(const std::string& host, uint16_t port) override {
    if (!m_session || m_connection) return kHttpErrorIncorrectHandleState;
    std::wstring wideHost;
    if (!ToWide(host, wideHost) || wideHost.empty()) return kHttpErrorInvalidUrl;
    m_connection.Reset(WinHttpConnect(m_session.get(), wideHost.c_str(), port, 0));
    return Outcome(m_connection ? TRUE : FALSE);
  }

  HttpError OpenRequest(const std::string& path, bool secure) override {
    if (!m_connection || m_request) return kHttpErrorIncorrectHandleState;
    std::wstring widePath;
    if (!ToWide(path, widePath)) return kHttpErrorInvalidUrl;
    const DWORD flags = WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0);
    m_request.Reset(WinHttpOpenRequest(m_connection.get(), L"GET", widePath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    return Outcome(m_request ? TRUE : FALSE);
  }

  HttpError AddRequestHeader(const std::string& header) override {
    if (!m_request) return kHttpErrorIncorrectHandleState;
    std::wstring wideHeader;
    if (!ToWide(header, wideHeader) || wideHeader.empty()) return kHttpErrorInvalidParameter;
    return Outcome(
        WinHttpAddRequestHeaders(m_request.get(), wideHeader.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD));
  }

  HttpError SetAutoLogonPolicyLow() override {
    if (!m_request) return kHttpErrorIncorrectHandleState;
    DWORD value = kAutoLogonLow;
    return Outcome(WinHttpSetOption(m_request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &value, sizeof value));
  }

  // Empty texts go to WinHTTP as null: with NTLM that is the user's logon.
  // WinHTTP refuses Basic without a user name (ERROR_INVALID_PARAMETER);
  // that refusal is the step's result, as every other one.
  HttpError SetProxyCredentials(ProxyAuthScheme scheme, const SecretText& user, const SecretText& password) override {
    if (!m_request) return kHttpErrorIncorrectHandleState;
    // WinHTTP refuses Basic without a user name (87). That pass follows a
    // cancelled dialog, which must not fail the download: it goes out with
    // no credentials, as on every other platform.
    if (scheme == ProxyAuthScheme::kBasic && user.empty()) return kHttpOk;
    const WideSecret wideUser(user);
    const WideSecret widePassword(password);
    if (!wideUser.valid() || !widePassword.valid()) return kHttpErrorInvalidParameter;
    return Outcome(WinHttpSetCredentials(m_request.get(), WINHTTP_AUTH_TARGET_PROXY, static_cast<DWORD>(scheme),
                                         wideUser.OrNull(), widePassword.OrNull(), nullptr));
  }

  HttpError SendRequest() override {
    if (!m_request) return kHttpErrorIncorrectHandleState;
    m_received = false;
    return Outcome(
        WinHttpSendRequest(m_request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0));
  }

  HttpError ReceiveResponse() override {
    if (!m_request) return kHttpErrorIncorrectHandleState;
    const HttpError error = Outcome(WinHttpReceiveResponse(m_request.get(), nullptr));
    if (error != kHttpOk) return error;
    m_received = true;
    return kHttpOk;
  }

  HttpError QueryStatusCode(uint32_t& status) override {
    if (!m_received) return kHttpErrorIncorrectHandleState;
    DWORD value = 0;
    DWORD size = sizeof value;
    const HttpError error =
        Outcome(WinHttpQueryHeaders(m_request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX));
    if (error == kHttpOk) status = value;
    return error;
  }

  HttpError QueryContentLength(std::optional<uint64_t>& length) override {
    if (!m_received) return kHttpErrorIncorrectHandleState;
    wchar_t text[kLengthTextUnits] = {};
    DWORD size = sizeof text;
    if (WinHttpQueryHeaders(m_request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                            WINHTTP_NO_HEADER_INDEX)) {
      length = ParseLength(text);
      return kHttpOk;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_WINHTTP_HEADER_NOT_FOUND && error != ERROR_INSUFFICIENT_BUFFER) return Outcome(FALSE);
    length.reset();  // no header, or a value too long to be a length
    return kHttpOk;
  }

  HttpError QueryDataAvailable(size_t& count) override {
    if (!m_received) return kHttpErrorIncorrectHandleState;
    DWORD available = 0;
    const HttpError error = Outcome(WinHttpQueryDataAvailable(m_request.get(), &available));
    if (error != kHttpOk) return error;
    count = available;
    return kHttpOk;
  }

  HttpError ReadData(uint8_t* buffer, size_t size, size_t& read) override {
    if (!m_received) return kHttpErrorIncorrectHandleState;
    DWORD got = 0;
    const HttpError error = Outcome(WinHttpReadData(m_request.get(), buffer, static_cast<DWORD>(size), &got));
    if (error != kHttpOk) return error;
    read = got;
    return kHttpOk;
  }

 private:
  // Declared in opening order, so destruction closes request, connection,
  // then session.
  InternetHandle m_session;
  InternetHandle m_connection;
  InternetHandle m_request;
  bool m_received = false;  // response headers of the last send are in
};

}  // namespace

std::unique_ptr<HttpTransport> CreateHttpTransport() {
  return std::make_unique<WinHttpTransport>();
}

}  // namespace vorneth
