// Which proxy, if any, a request goes through: the user's settings and
// automatic discovery.
//
// On Windows these are the browser proxy settings of the current user
// (WinHttpGetIEProxyConfigForCurrentUser) and WinHTTP's discovery
// (WinHttpGetProxyForUrl with DHCP/DNS detection or a configuration
// script). On Linux libproxy makes the whole decision: it reads the
// desktop's and the environment's settings (http_proxy, https_proxy,
// no_proxy, ...), runs configuration scripts and WPAD, and applies the
// bypass rules itself. ReadUserProxySettings therefore reports settings
// that ask for automatic detection and nothing else, and GetProxyForUrl
// asks libproxy.
//
// Proxy texts are what the session takes as its proxy (on Linux a URL such
// as "http://proxy.example:3128"), and also the name under which proxy
// credentials are stored and asked for.
//
// Thread-safe; nothing is kept between calls except what the system caches.
#ifndef VORNETH_NET_PROXY_SETTINGS_H_
#define VORNETH_NET_PROXY_SETTINGS_H_

#include <cstdint>
#include <string>

#include "net/http_transport.h"

namespace vorneth {

struct UserProxySettings {
  bool m_autoDetect = false;    // detect the proxy automatically
  std::string m_autoConfigUrl;  // a configuration script, or empty
  std::string m_proxy;          // a fixed proxy, or empty
  std::string m_bypass;         // hosts reached without the proxy, or empty
};

// Flags and detection types of automatic discovery, with WinHTTP's values.
inline constexpr uint32_t kAutoProxyAutoDetect = 1;
inline constexpr uint32_t kAutoProxyConfigUrl = 2;
inline constexpr uint32_t kAutoDetectDhcpAndDns = 3;

struct AutoProxyOptions {
  uint32_t m_flags = 0;
  uint32_t m_autoDetectTypes = 0;
  std::string m_autoConfigUrl;  // used with kAutoProxyConfigUrl
  bool m_autoLogonIfChallenged = true;
};

// The current user's settings. False (with the error code) when they
// cannot be read.
bool ReadUserProxySettings(UserProxySettings& settings, HttpError& error);

// The proxy for `url` by automatic discovery. True with the proxy text
// (empty when the request goes direct); false (with the error code) when
// discovery fails or finds nothing.
bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& options, std::string& proxy, HttpError& error);

}  // namespace vorneth

#endif  // VORNETH_NET_PROXY_SETTINGS_H_
