// One HTTP GET through the system's HTTP stack, taken step by step.
//
// The download client (net/http_client.h) owns the logic of an exchange:
// the proxy decision, the proxy-authentication passes, the body assembly
// and the result values. An HttpTransport offers it the steps underneath,
// shaped after the Windows HTTP client: split the server text, open a
// session (with or without a named proxy), connect, open the request, set
// options, send, receive, query the status and read the body in chunks.
// On Windows each step is the WinHTTP call of the same name; on Linux the
// steps drive one libcurl transfer (http_transport_posix.cpp).
//
// Every step returns kHttpOk or the error code of the failure: Windows
// system and WinHTTP error numbers, which the Linux transport uses too (the
// kHttpError* values below), so a failure reads the same in the traces of
// both platforms. A step called out of order (reading before sending, say)
// fails with kHttpErrorIncorrectHandleState.
//
// What the transport does by itself, as the Windows client does by default:
// follow at most 10 redirects, never from https to http; wait at most 60 s
// for a connection and 30 s for data; the server's certificate is checked
// against the system's trusted authorities. On Linux the environment
// variable VORNETH_TEST_CERTIFICATE_AUTHORITY may name a PEM file whose
// authorities are trusted instead: that is how tests bring their own
// authority; a page never reaches a process's environment.
//
// A transport is created for one exchange and used by one thread; its
// destructor closes whatever the steps opened. Transports share nothing,
// so several threads may run exchanges at the same time.
#ifndef VORNETH_NET_HTTP_TRANSPORT_H_
#define VORNETH_NET_HTTP_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/secret_text.h"

namespace vorneth {

using HttpError = uint32_t;
inline constexpr HttpError kHttpOk = 0;
inline constexpr HttpError kHttpErrorOutOfMemory = 8;                // ERROR_NOT_ENOUGH_MEMORY
inline constexpr HttpError kHttpErrorInvalidParameter = 87;          // ERROR_INVALID_PARAMETER
inline constexpr HttpError kHttpErrorModuleNotFound = 126;           // ERROR_MOD_NOT_FOUND
inline constexpr HttpError kHttpErrorTimeout = 12002;                // ERROR_WINHTTP_TIMEOUT
inline constexpr HttpError kHttpErrorInternal = 12004;               // ERROR_WINHTTP_INTERNAL_ERROR
inline constexpr HttpError kHttpErrorInvalidUrl = 12005;             // ERROR_WINHTTP_INVALID_URL
inline constexpr HttpError kHttpErrorUnrecognizedScheme = 12006;     // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
inline constexpr HttpError kHttpErrorNameNotResolved = 12007;        // ERROR_WINHTTP_NAME_NOT_RESOLVED
inline constexpr HttpError kHttpErrorInvalidOption = 12009;          // ERROR_WINHTTP_INVALID_OPTION
inline constexpr HttpError kHttpErrorIncorrectHandleState = 12019;   // ERROR_WINHTTP_INCORRECT_HANDLE_STATE
inline constexpr HttpError kHttpErrorCannotConnect = 12029;          // ERROR_WINHTTP_CANNOT_CONNECT
inline constexpr HttpError kHttpErrorConnectionError = 12030;        // ERROR_WINHTTP_CONNECTION_ERROR
inline constexpr HttpError kHttpErrorHeaderNotFound = 12150;         // ERROR_WINHTTP_HEADER_NOT_FOUND
inline constexpr HttpError kHttpErrorInvalidServerResponse = 12152;  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
inline constexpr HttpError kHttpErrorRedirectFailed = 12156;         // ERROR_WINHTTP_REDIRECT_FAILED
inline constexpr HttpError kHttpErrorSecureFailure = 12175;          // ERROR_WINHTTP_SECURE_FAILURE
inline constexpr HttpError kHttpErrorAutoProxyService = 12178;       // ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR
inline constexpr HttpError kHttpErrorAutodetectionFailed = 12180;    // ERROR_WINHTTP_AUTODETECTION_FAILED

// TLS versions for SetSecureProtocols, as WinHTTP's flag bits.
inline constexpr uint32_t kTls10 = 0x80;
inline constexpr uint32_t kTls11 = 0x200;
inline constexpr uint32_t kTls12 = 0x800;
inline constexpr uint32_t kTls13 = 0x2000;

// Proxy authentication schemes, with WinHTTP's numbers.
enum class ProxyAuthScheme : uint32_t { kBasic = 1, kNtlm = 2 };

// What CrackServer takes out of a server text.
struct ServerParts {
  std::string m_scheme;  // as written, e.g. "https"
  std::string m_host;    // without brackets for an IPv6 literal
  uint16_t m_port = 0;   // the text's port, or the scheme's default
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // Splits `server` ("scheme://host[:port]", UTF-8) into scheme, host and
  // port; only "http" and "https" schemes are taken (any letter case).
  virtual HttpError CrackServer(const std::string& server, ServerParts& parts) = 0;

  // Opens the session with the agent name: through the proxy `proxy` (the
  // text GetProxyForUrl or the user's settings gave) when it is not empty,
  // with the hosts in `bypass` reached directly; otherwise with no proxy.
  virtual HttpError OpenSession(const std::string& agent, const std::string& proxy, const std::string& bypass) = 0;
  // The session's TLS versions (kTls* bits). Fails with
  // kHttpErrorInvalidParameter when the system does not know one of them.
  virtual HttpError SetSecureProtocols(uint32_t protocols) = 0;
  // The host and port the request goes to.
  virtual HttpError Connect(const std::string& host, uint16_t port) = 0;
  // A GET of `path` (sent unchanged, query included) that bypasses caches,
  // over TLS when `secure`.
  virtual HttpError OpenRequest(const std::string& path, bool secure) = 0;
  // Adds one header line ("Name: value") to the request.
  virtual HttpError AddRequestHeader(const std::string& header) = 0;
  // Lets the user's logon answer an authentication challenge from any
  // server or proxy.
  virtual HttpError SetAutoLogonPolicyLow() = 0;
  // The credentials the next send offers to a proxy that asks. An empty
  // user name means none: with kNtlm the user's logon (on Linux Negotiate
  // with the user's Kerberos ticket, when there is one), with kBasic no
  // credentials at all.
  virtual HttpError SetProxyCredentials(ProxyAuthScheme scheme, const SecretText& user, const SecretText& password) = 0;

  // Sends the request (again after a 407: each send is one more try), then
  // waits for the response headers. A proxy's 407, also the answer to a
  // tunnel request for https, is a response like any other.
  virtual HttpError SendRequest() = 0;
  virtual HttpError ReceiveResponse() = 0;
  // The status code of the response received.
  virtual HttpError QueryStatusCode(uint32_t& status) = 0;
  // The response's Content-Length; none when it has none (or it cannot be
  // read as a number).
  virtual HttpError QueryContentLength(std::optional<uint64_t>& length) = 0;
  // How many body bytes can be read now without waiting for the network;
  // waits for more when none are buffered. 0 at the end of the body. A
  // connection lost in the middle of the body fails here where the system
  // reports it (kHttpErrorConnectionError); WinHTTP may report a body
  // shorter than its Content-Length as a plain end, so the client compares
  // the two itself.
  virtual HttpError QueryDataAvailable(size_t& count) = 0;
  // Reads up to `size` body bytes into `buffer`; `read` says how many.
  virtual HttpError ReadData(uint8_t* buffer, size_t size, size_t& read) = 0;
};

// A transport of the system's HTTP stack; never null.
std::unique_ptr<HttpTransport> CreateHttpTransport();

}  // namespace vorneth

#endif  // VORNETH_NET_HTTP_TRANSPORT_H_
