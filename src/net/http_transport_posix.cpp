// The exchange steps over one libcurl transfer.
//
// The session, connection and request of the Windows client are one easy
// handle here: OpenSession, Connect and OpenRequest only gather what the
// transfer needs, and each SendRequest runs the transfer once more from the
// start (one try, as a new send is in WinHTTP). The transfer is driven
// through a multi handle in a pull model: SendRequest runs it until the
// final response has begun (its first body bytes are in, or it has ended),
// and QueryDataAvailable runs it again only when every byte delivered so far
// has been read. The write callback appends to m_pending and pauses the
// transfer when it holds kPendingLimit bytes, so a slow reader of a large
// body holds little more than that.
//
// Responses that curl handles by itself (redirects it follows, the
// challenge legs of NTLM) never reach the write callback; the first body
// bytes are therefore those of the final response.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "net/http_transport.h"
#include "net/http_transport_curl.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// curl_global_init is not thread-safe; it runs once, before the first
// transfer of the process. Its result is kept for every later caller.
CURLcode GlobalInit() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  return result;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// How a failed transfer reads as a Windows HTTP error.
struct CurlErrorMapping {
  CURLcode m_code;
  HttpError m_error;
};
constexpr std::array kCurlErrors{
    CurlErrorMapping{CURLE_OUT_OF_MEMORY, kHttpErrorOutOfMemory},
    CurlErrorMapping{CURLE_OPERATION_TIMEDOUT, kHttpErrorTimeout},
    CurlErrorMapping{CURLE_COULDNT_RESOLVE_HOST, kHttpErrorNameNotResolved},
    CurlErrorMapping{CURLE_COULDNT_RESOLVE_PROXY, kHttpErrorNameNotResolved},
    CurlErrorMapping{CURLE_COULDNT_CONNECT, kHttpErrorCannotConnect},
    CurlErrorMapping{CURLE_SEND_ERROR, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_RECV_ERROR, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_PARTIAL_FILE, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_GOT_NOTHING, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_HTTP2, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_HTTP2_STREAM, kHttpErrorConnectionError},
    CurlErrorMapping{CURLE_WEIRD_SERVER_REPLY, kHttpErrorInvalidServerResponse},
    CurlErrorMapping{CURLE_BAD_CONTENT_ENCODING, kHttpErrorInvalidServerResponse},
    CurlErrorMapping{CURLE_SSL_CONNECT_ERROR, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_PEER_FAILED_VERIFICATION, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_CERTPROBLEM, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_CIPHER, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_CACERT_BADFILE, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_SHUTDOWN_FAILED, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_CRL_BADFILE, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_ISSUER_ERROR, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_PINNEDPUBKEYNOTMATCH, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_INVALIDCERTSTATUS, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_ENGINE_INITFAILED, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_SSL_CLIENTCERT, kHttpErrorSecureFailure},
    CurlErrorMapping{CURLE_USE_SSL_FAILED, kHttpErrorSecureFailure},
    // Only a redirect can lead to a refused protocol: the first URL is
    // always http or https.
    CurlErrorMapping{CURLE_UNSUPPORTED_PROTOCOL, kHttpErrorRedirectFailed},
    CurlErrorMapping{CURLE_TOO_MANY_REDIRECTS, kHttpErrorRedirectFailed},
    CurlErrorMapping{CURLE_URL_MALFORMAT, kHttpErrorInvalidUrl},
};

HttpError MapCurlError(CURLcode code) {
  const auto* found = std::find_if(kCurlErrors.begin(), kCurlErrors.end(),
                                   [code](const CurlErrorMapping& mapping) { return mapping.m_code == code; });
  return found != kCurlErrors.end() ? found->m_error : kHttpErrorInternal;
}

// The lowest and the highest TLS version of the kTls* bits, as curl's
// minimum and maximum.
struct TlsVersion {
  uint32_t m_bit;
  long m_minimum;  // curl takes options as long
  long m_maximum;
};
constexpr std::array kTlsVersions{
    TlsVersion{kTls10, CURL_SSLVERSION_TLSv1_0, CURL_SSLVERSION_MAX_TLSv1_0},
    TlsVersion{kTls11, CURL_SSLVERSION_TLSv1_1, CURL_SSLVERSION_MAX_TLSv1_1},
    TlsVersion{kTls12, CURL_SSLVERSION_TLSv1_2, CURL_SSLVERSION_MAX_TLSv1_2},
    TlsVersion{kTls13, CURL_SSLVERSION_TLSv1_3, CURL_SSLVERSION_MAX_TLSv1_3},
};
constexpr uint32_t kAllTlsBits = kTls10 | kTls11 | kTls12 | kTls13;

// The body bytes held before the transfer is paused. One write callback
// brings at most CURL_MAX_WRITE_SIZE more.
constexpr size_t kPendingLimit = size_t{256} * 1024;
// curl's receive buffer: larger reads mean fewer rounds through the multi
// handle and the reader per megabyte.
constexpr long kReceiveBufferBytes = 256L * 1024;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The first proxy of a Windows-style list ("host:port;other:port", maybe
// with "http=" in front); a URL as libproxy gives it is kept as it is.
std::string FirstProxy(const std::string& proxy) {
  std::string first = proxy.substr(0, proxy.find_first_of("; \t"));
  const size_t equals = first.find('=');
  if (equals != std::string::npos && first.find("://") == std::string::npos) first.erase(0, equals + 1);
  return first;
}

// A Windows bypass list ("a;b c", "<local>" for plain host names) as curl's
// comma-separated one; "<local>" has no counterpart and is left out.
std::string CurlBypassList(const std::string& bypass) {
  std::string list;
  size_t start = 0;
  while (start < bypass.size()) {
    size_t end = bypass.find_first_of("; \t,", start);
    if (end == std::string::npos) end = bypass.size();
    const std::string_view entry(bypass.data() + start, end - start);
    if (!entry.empty() && entry != "<local>") {
      if (!list.empty()) list += ',';
      list += entry;
    }
    start = end + 1;
  }
  return list;
}

HttpError ParsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return kHttpErrorInvalidUrl;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return kHttpErrorInvalidUrl;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return kHttpErrorInvalidUrl;
  port = static_cast<uint16_t>(value);
  return kHttpOk;
}

class CurlTransport final : public HttpTransport {
 public:
  explicit CurlTransport(std::string authorityFile) : m_authorityFile(std::move(authorityFile)) {}
  ~CurlTransport() override {
    if (m_added) curl_multi_remove_handle(m_multi.get(), m_easy.get());
  }
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  HttpError CrackServer(const std::string& server, ServerParts& parts) override;
  HttpError OpenSession(const std::string& agent, const std::string& proxy, const std::string& bypass) override;
  HttpError SetSecureProtocols(uint32_t protocols) override;
  HttpError Connect(const std::string& host, uint16_t port) override;
  HttpError OpenRequest(const std::string& path, bool secure) override;
  HttpError AddRequestHeader(const std::string& header) override;
  HttpError SetAutoLogonPolicyLow() override;
  HttpError SetProxyCredentials(ProxyAuthScheme scheme, const SecretText& user, const SecretText& password) override;
  HttpError SendRequest() override;
  HttpError ReceiveResponse() override;
  HttpError QueryStatusCode(uint32_t& status) override;
  HttpError QueryContentLength(std::optional<uint64_t>& length) override;
  HttpError QueryDataAvailable(size_t& count) override;
  HttpError ReadData(uint8_t* buffer, size_t size, size_t& read) override;

 private:
  // How far the steps have come; each step names the stage it needs.
  enum class Stage { kNew, kSession, kConnected, kRequest, kSent, kReceived };

  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  HttpError Failed(const char* step, HttpError error, CURLcode code = CURLE_OK) const;
  HttpError Options(const char* step, std::initializer_list<CURLcode> results) const;
  HttpError ApplyPerSendOptions();
  // Runs the transfer until `enough` holds or the transfer has ended.
  template <typename Enough>
  HttpError Drive(const char* step, Enough enough);
  // What the ended transfer means: kHttpOk for a response (a proxy's
  // refusal of a tunnel included), otherwise its error.
  HttpError Outcome(const char* step);
  size_t Buffered() const { return m_pending.size() - m_pendingRead; }

  const std::string m_authorityFile;
  Stage m_stage = Stage::kNew;
  std::string m_host;
  uint16_t m_port = 0;
  std::vector<std::string> m_headers;
  HeaderList m_headerList;  // handed to curl for the send under way
  ProxyAuthScheme m_authScheme = ProxyAuthScheme::kNtlm;
  SecretText m_user;
  SecretText m_password;
  std::array<char, CURL_ERROR_SIZE> m_errorText{};
  // The transfer of the current send.
  std::vector<uint8_t> m_pending;  // body bytes delivered and not yet read
  size_t m_pendingRead = 0;
  bool m_bodyStarted = false;
  bool m_paused = false;  // the write callback refused bytes until m_pending is read
  bool m_ended = false;
  bool m_outOfMemory = false;
  CURLcode m_result = CURLE_OK;
  long m_tunnelStatus = 0;  // a proxy's answer to CONNECT that ended the transfer
  // Last, so that they go first: curl holds pointers to the error buffer,
  // the header list and this object until then.
  EasyHandle m_easy;
  MultiHandle m_multi;
  bool m_added = false;  // m_easy is in m_multi
};

HttpError CurlTransport::Failed(const char* step, HttpError error, CURLcode code) const {
  TraceFunction trace(step);
  trace.Number("error", static_cast<int32_t>(error));
  if (code != CURLE_OK) {
    trace.Number("CURLcode", static_cast<int32_t>(code));
    trace.Text("curl_easy_strerror", curl_easy_strerror(code));
    if (m_errorText[0] != '\0') trace.Text("CURLOPT_ERRORBUFFER", m_errorText.data());
  }
  trace.Message("HTTP transport step failed");
  return error;
}

HttpError CurlTransport::Options(const char* step, std::initializer_list<CURLcode> results) const {
  for (const CURLcode code : results) {
    if (code == CURLE_OUT_OF_MEMORY) return Failed(step, kHttpErrorOutOfMemory, code);
    if (code != CURLE_OK) return Failed(step, kHttpErrorInvalidOption, code);
  }
  return kHttpOk;
}

HttpError CurlTransport::CrackServer(const std::string& server, ServerParts& parts) {
  const char* step = "HttpTransport::CrackServer";
  const size_t separator = server.find("://");
  if (separator == std::string::npos) return Failed(step, kHttpErrorUnrecognizedScheme);
  const std::string scheme = server.substr(0, separator);
  const bool secure = EqualsIgnoringCase(scheme, "https");
  if (!secure && !EqualsIgnoringCase(scheme, "http")) return Failed(step, kHttpErrorUnrecognizedScheme);
  std::string_view authority(server);
  authority.remove_prefix(separator + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  authority.remove_prefix(authority.rfind('@') + 1);  // npos + 1 == 0: no user part
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return Failed(step, kHttpErrorInvalidUrl);
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] != ':') return Failed(step, kHttpErrorInvalidUrl);
    if (close + 1 < authority.size()) port = authority.substr(close + 2);
  } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  uint16_t number = secure ? 443 : 80;
  if (!port.empty() && ParsePort(port, number) != kHttpOk) return Failed(step, kHttpErrorInvalidUrl);
  if (host.empty()) return Failed(step, kHttpErrorInvalidUrl);
  parts.m_scheme = scheme;
  parts.m_host = std::string(host);
  parts.m_port = number;
  return kHttpOk;
}

HttpError CurlTransport::OpenSession(const std::string& agent, const std::string& proxy, const std::string& bypass) {
  const char* step = "HttpTransport::OpenSession";
  if (m_stage != Stage::kNew) return Failed(step, kHttpErrorIncorrectHandleState);
  if (const CURLcode code = GlobalInit(); code != CURLE_OK) return Failed(step, MapCurlError(code), code);
  m_easy.reset(curl_easy_init());
  m_multi.reset(curl_multi_init());
  if (!m_easy || !m_multi) return Failed(step, kHttpErrorOutOfMemory);
  CURL* easy = m_easy.get();
  // The proxy is always named, an empty text meaning none: curl must not
  // fall back on http_proxy by itself, the proxy decision is made above.
  const HttpError error = Options(
      step,
      {curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText.data()), curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L),
       curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()),
       curl_easy_setopt(easy, CURLOPT_PROXY, FirstProxy(proxy).c_str()),
       curl_easy_setopt(easy, CURLOPT_NOPROXY, CurlBypassList(bypass).c_str()),
       curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)),
       curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L), curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L),
       curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L), curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L),
       curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L), curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes),
       curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransport::OnBody),
       curl_easy_setopt(easy, CURLOPT_WRITEDATA, this)});
  if (error != kHttpOk) return error;
  if (!m_authorityFile.empty()) {
    const HttpError trusted = Options(step, {curl_easy_setopt(easy, CURLOPT_CAINFO, m_authorityFile.c_str()),
                                             curl_easy_setopt(easy, CURLOPT_PROXY_CAINFO, m_authorityFile.c_str()),
                                             curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr)});
    if (trusted != kHttpOk) return trusted;
  }
  m_stage = Stage::kSession;
  return kHttpOk;
}

// A gap in the bits (TLS 1.0 and 1.2 without 1.1) widens to the whole
// range: curl takes a minimum and a maximum. curl compares the versions
// with what the TLS library knows only when it connects; Debian's OpenSSL
// knows all four, so the refusal of TLS 1.3 that the caller falls back
// from does not happen here.
HttpError CurlTransport::SetSecureProtocols(uint32_t protocols) {
  const char* step = "HttpTransport::SetSecureProtocols";
  if (m_stage == Stage::kNew || m_stage >= Stage::kSent) return Failed(step, kHttpErrorIncorrectHandleState);
  if (protocols == 0 || (protocols & ~kAllTlsBits) != 0) return Failed(step, kHttpErrorInvalidParameter);
  long minimum = 0;
  long maximum = 0;
  for (const TlsVersion& version : kTlsVersions) {
    if ((protocols & version.m_bit) == 0) continue;
    if (minimum == 0) minimum = version.m_minimum;
    maximum = version.m_maximum;
  }
  const CURLcode code = curl_easy_setopt(m_easy.get(), CURLOPT_SSLVERSION, minimum | maximum);
  if (code != CURLE_OK) return Failed(step, kHttpErrorInvalidParameter, code);
  return kHttpOk;
}

HttpError CurlTransport::Connect(const std::string& host, uint16_t port) {
  const char* step = "HttpTransport::Connect";
  if (m_stage != Stage::kSession) return Failed(step, kHttpErrorIncorrectHandleState);
  if (host.empty() || host.find_first_of("/?#@ \r\n") != std::string::npos) {
    return Failed(step, kHttpErrorInvalidUrl);
  }
  m_host = host;
  m_port = port;
  m_stage = Stage::kConnected;
  return kHttpOk;
}

HttpError CurlTransport::OpenRequest(const std::string& path, bool secure) {
  const char* step = "HttpTransport::OpenRequest";
  if (m_stage != Stage::kConnected) return Failed(step, kHttpErrorIncorrectHandleState);
  if (path.find_first_of("\r\n") != std::string::npos) return Failed(step, kHttpErrorInvalidUrl);
  const bool literal = m_host.find(':') != std::string::npos;  // IPv6: in brackets
  const uint16_t port = m_port != 0 ? m_port : (secure ? 443 : 80);
  std::string url = secure ? "https://" : "http://";
  if (literal) url += '[';
  url += m_host;
  if (literal) url += ']';
  url += ':';
  url += std::to_string(port);
  if (path.empty() || path.front() != '/') url += '/';
  url += path;
  // A redirect may go from http to https but never from https back to http.
  const HttpError error =
      Options(step, {curl_easy_setopt(m_easy.get(), CURLOPT_URL, url.c_str()),
                     curl_easy_setopt(m_easy.get(), CURLOPT_PATH_AS_IS, 1L),
                     curl_easy_setopt(m_easy.get(), CURLOPT_PROTOCOLS_STR, "http,https"),
                     curl_easy_setopt(m_easy.get(), CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https")});
  if (error != kHttpOk) return error == kHttpErrorInvalidOption ? Failed(step, kHttpErrorInvalidUrl) : error;
  m_stage = Stage::kRequest;
  return kHttpOk;
}

HttpError CurlTransport::AddRequestHeader(const std::string& header) {
  const char* step = "HttpTransport::AddRequestHeader";
  if (m_stage < Stage::kRequest) return Failed(step, kHttpErrorIncorrectHandleState);
  std::string line = header;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos || line.find_first_of("\r\n") != std::string::npos) {
    return Failed(step, kHttpErrorInvalidParameter);
  }
  m_headers.push_back(std::move(line));
  return kHttpOk;
}

// The user's logon is what SetProxyCredentials without a user name offers;
// there is no policy of its own to set.
HttpError CurlTransport::SetAutoLogonPolicyLow() {
  if (m_stage < Stage::kRequest) return Failed("HttpTransport::SetAutoLogonPolicyLow", kHttpErrorIncorrectHandleState);
  return kHttpOk;
}

HttpError CurlTransport::SetProxyCredentials(ProxyAuthScheme scheme, const SecretText& user,
                                             const SecretText& password) {
  const char* step = "HttpTransport::SetProxyCredentials";
  if (m_stage < Stage::kRequest) return Failed(step, kHttpErrorIncorrectHandleState);
  if (scheme != ProxyAuthScheme::kBasic && scheme != ProxyAuthScheme::kNtlm) {
    return Failed(step, kHttpErrorInvalidParameter);
  }
  m_authScheme = scheme;
  m_user.Assign(user.view());
  m_password.Assign(password.view());
  return kHttpOk;
}

// Headers and proxy credentials, set afresh for every send. The request
// bypasses caches as WinHTTP's refresh flag makes it; without an Accept
// header of the caller's, curl's default one is left out as well.
HttpError CurlTransport::ApplyPerSendOptions() {
  const char* step = "HttpTransport::SendRequest";
  std::vector<std::string> lines{"Cache-Control: no-cache", "Pragma: no-cache"};
  const bool hasAccept = std::any_of(m_headers.begin(), m_headers.end(), [](const std::string& line) {
    return EqualsIgnoringCase(std::string_view(line).substr(0, line.find(':')), "Accept");
  });
  if (!hasAccept) lines.emplace_back("Accept:");
  lines.insert(lines.end(), m_headers.begin(), m_headers.end());
  HeaderList list;
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return Failed(step, kHttpErrorOutOfMemory);
    (void)list.release();  // now owned through `grown`
    list.reset(grown);
  }
  m_headerList = std::move(list);
  CURL* easy = m_easy.get();
  // No user name: with NTLM the user's logon, which curl offers as
  // Negotiate (a Kerberos ticket through GSS-API) with the empty name ":";
  // with Basic nothing at all.
  long auth = CURLAUTH_BASIC;
  const char* userName = nullptr;
  const char* password = nullptr;
  bool logon = false;
  if (m_authScheme == ProxyAuthScheme::kNtlm) {
    // NTLM only to a proxy that offers it: curl asks without credentials
    // first and answers only an NTLM challenge. A proxy that takes Basic
    // alone then gives its 407 for the Basic pass, where sending NTLM
    // unasked would draw a final error from some (tinyproxy answers 401).
    auth = m_user.empty() ? static_cast<long>(CURLAUTH_NEGOTIATE) : static_cast<long>(CURLAUTH_NTLM | CURLAUTH_ONLY);
    logon = m_user.empty();
  }
  if (!m_user.empty()) {
    userName = m_user.c_str();
    password = m_password.c_str();
  }
  // The name and password options come after the combined one, which
  // would otherwise reset them.
  return Options(step, {curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headerList.get()),
                        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, auth),
                        curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, logon ? ":" : nullptr),
                        logon ? CURLE_OK : curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, userName),
                        logon ? CURLE_OK : curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password)});
}

size_t CurlTransport::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* transport = static_cast<CurlTransport*>(self);
  const size_t bytes = size * count;
  transport->m_bodyStarted = true;
  if (transport->m_pendingRead == transport->m_pending.size()) {
    transport->m_pending.clear();
    transport->m_pendingRead = 0;
  }
  // Back-pressure: curl keeps these bytes and stops reading until
  // QueryDataAvailable finds the buffer read and resumes the transfer.
  if (transport->Buffered() >= kPendingLimit) {
    transport->m_paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  // An exception must not cross curl's C frames: a failed allocation
  // stops the transfer (CURLE_WRITE_ERROR) and is reported as such.
  try {
    transport->m_pending.insert(transport->m_pending.end(), data, data + bytes);
  } catch (const std::bad_alloc&) {
    transport->m_outOfMemory = true;
    return 0;
  }
  return bytes;
}

template <typename Enough>
HttpError CurlTransport::Drive(const char* step, Enough enough) {
  while (!m_ended && !enough()) {
    int running = 0;
    CURLMcode code = curl_multi_perform(m_multi.get(), &running);
    if (code != CURLM_OK) return Failed(step, code == CURLM_OUT_OF_MEMORY ? kHttpErrorOutOfMemory : kHttpErrorInternal);
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      m_ended = true;
      m_result = message->data.result;
    }
    if (m_ended || enough()) break;
    // curl's own time-outs end a transfer that makes no progress; the poll
    // only waits for its sockets or its next timer.
    code = curl_multi_poll(m_multi.get(), nullptr, 0, 1000, nullptr);
    if (code != CURLM_OK) return Failed(step, kHttpErrorInternal);
  }
  return kHttpOk;
}

HttpError CurlTransport::Outcome(const char* step) {
  if (!m_ended || m_result == CURLE_OK) return kHttpOk;
  if (m_result == CURLE_WRITE_ERROR && m_outOfMemory) return Failed(step, kHttpErrorOutOfMemory, m_result);
  long response = 0;
  long tunnel = 0;
  curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &response);
  curl_easy_getinfo(m_easy.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
  // A proxy that refuses the tunnel for https (407 above all) answers the
  // request as far as the client can tell: its status is the response.
  if (response == 0 && tunnel >= 300 && !m_bodyStarted) {
    m_tunnelStatus = tunnel;
    return kHttpOk;
  }
  return Failed(step, MapCurlError(m_result), m_result);
}

HttpError CurlTransport::SendRequest() {
  const char* step = "HttpTransport::SendRequest";
  if (m_stage < Stage::kRequest) return Failed(step, kHttpErrorIncorrectHandleState);
  if (m_added) curl_multi_remove_handle(m_multi.get(), m_easy.get());
  m_added = false;
  m_stage = Stage::kRequest;
  m_pending.clear();
  m_pendingRead = 0;
  m_bodyStarted = m_paused = m_ended = m_outOfMemory = false;
  m_result = CURLE_OK;
  m_tunnelStatus = 0;
  m_errorText[0] = '\0';
  if (const HttpError error = ApplyPerSendOptions(); error != kHttpOk) return error;
  if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK) return Failed(step, kHttpErrorInternal);
  m_added = true;
  if (const HttpError error = Drive(step, [this] { return m_bodyStarted; }); error != kHttpOk) return error;
  // A failure after the final response's headers (a body cut short, a
  // stall) belongs to the body and is reported when it is read; a refused
  // redirect is a failure of the send.
  long response = 0;
  curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &response);
  const bool bodyFailure = m_bodyStarted || (response > 0 && MapCurlError(m_result) != kHttpErrorRedirectFailed);
  if (!bodyFailure) {
    if (const HttpError error = Outcome(step); error != kHttpOk) return error;
  }
  m_stage = Stage::kSent;
  return kHttpOk;
}

// SendRequest has already waited for the response to begin.
HttpError CurlTransport::ReceiveResponse() {
  if (m_stage != Stage::kSent) return Failed("HttpTransport::ReceiveResponse", kHttpErrorIncorrectHandleState);
  m_stage = Stage::kReceived;
  return kHttpOk;
}

HttpError CurlTransport::QueryStatusCode(uint32_t& status) {
  const char* step = "HttpTransport::QueryStatusCode";
  if (m_stage != Stage::kReceived) return Failed(step, kHttpErrorIncorrectHandleState);
  long code = m_tunnelStatus;
  if (code == 0) curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &code);
  if (code <= 0) return Failed(step, kHttpErrorHeaderNotFound);
  status = static_cast<uint32_t>(code);
  return kHttpOk;
}

HttpError CurlTransport::QueryContentLength(std::optional<uint64_t>& length) {
  if (m_stage != Stage::kReceived) return Failed("HttpTransport::QueryContentLength", kHttpErrorIncorrectHandleState);
  curl_off_t value = -1;
  length.reset();
  if (m_tunnelStatus == 0 && curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) == CURLE_OK &&
      value >= 0) {
    length = static_cast<uint64_t>(value);
  }
  return kHttpOk;
}

HttpError CurlTransport::QueryDataAvailable(size_t& count) {
  const char* step = "HttpTransport::QueryDataAvailable";
  if (m_stage != Stage::kReceived) return Failed(step, kHttpErrorIncorrectHandleState);
  if (Buffered() == 0) {
    m_pending.clear();
    m_pendingRead = 0;
    if (m_paused) {
      m_paused = false;  // resuming may hand over the held bytes at once
      const CURLcode code = curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
      if (code != CURLE_OK) return Failed(step, MapCurlError(code), code);
    }
    if (const HttpError error = Drive(step, [this] { return Buffered() > 0; }); error != kHttpOk) return error;
  }
  // What was delivered is handed out before a failure that followed it.
  if (Buffered() == 0) {
    if (const HttpError error = Outcome(step); error != kHttpOk) return error;
  }
  count = Buffered();
  return kHttpOk;
}

HttpError CurlTransport::ReadData(uint8_t* buffer, size_t size, size_t& read) {
  if (m_stage != Stage::kReceived) return Failed("HttpTransport::ReadData", kHttpErrorIncorrectHandleState);
  read = std::min(size, Buffered());
  std::copy_n(m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingRead), read, buffer);
  m_pendingRead += read;
  return kHttpOk;
}

}  // namespace

std::unique_ptr<HttpTransport> CreateCurlTransport(const std::string& authorityFile) {
  return std::make_unique<CurlTransport>(authorityFile);
}

// The test seam of http_transport.h: a process started with this variable
// trusts the authorities of that file instead of the system's.
std::unique_ptr<HttpTransport> CreateHttpTransport() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the host changes its environment
  const char* authority = std::getenv("VORNETH_TEST_CERTIFICATE_AUTHORITY");
  return CreateCurlTransport(authority != nullptr ? authority : "");
}

}  // namespace vorneth
