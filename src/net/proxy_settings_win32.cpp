// Proxy settings on Windows: the current user's browser proxy settings and
// WinHTTP's automatic discovery, whose texts the caller releases with
// GlobalFree; here they are taken over by GlobalText as soon as they arrive.
#include <string>

#include "net/proxy_settings.h"
#include "net/winhttp_win32.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

// Owns a text the system allocated with GlobalAlloc.
class GlobalText {
 public:
  explicit GlobalText(LPWSTR text) : m_text(text) {}
  ~GlobalText() {
    if (m_text != nullptr) GlobalFree(m_text);
  }
  GlobalText(const GlobalText&) = delete;
  GlobalText& operator=(const GlobalText&) = delete;

  // The text as UTF-8; empty when there is none or it is not valid UTF-16.
  std::string Utf8() const {
    std::string utf8;
    if (m_text != nullptr) WindowsUtf8(m_text, wcslen(m_text), utf8);
    return utf8;
  }

 private:
  LPWSTR m_text;
};

}  // namespace

bool ReadUserProxySettings(UserProxySettings& settings, HttpError& error) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    error = LastHttpError();
    return false;
  }
  const GlobalText autoConfigUrl(config.lpszAutoConfigUrl);
  const GlobalText proxy(config.lpszProxy);
  const GlobalText bypass(config.lpszProxyBypass);
  settings.m_autoDetect = config.fAutoDetect != FALSE;
  settings.m_autoConfigUrl = autoConfigUrl.Utf8();
  settings.m_proxy = proxy.Utf8();
  settings.m_bypass = bypass.Utf8();
  return true;
}

bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& options, std::string& proxy, HttpError& error) {
  const std::wstring wideUrl = WindowsWide(url);
  const std::wstring configUrl = WindowsWide(options.m_autoConfigUrl);
  if (wideUrl.empty() || configUrl.empty() != options.m_autoConfigUrl.empty()) {
    error = kHttpErrorInvalidUrl;
    return false;
  }
  // A session of its own, only for the discovery.
  const InternetHandle session(
      WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (session.get() == nullptr) {
    error = LastHttpError();
    return false;
  }
  WINHTTP_AUTOPROXY_OPTIONS autoProxy = {};
  autoProxy.dwFlags = options.m_flags;
  autoProxy.dwAutoDetectFlags = options.m_autoDetectTypes;
  autoProxy.lpszAutoConfigUrl = configUrl.empty() ? nullptr : configUrl.c_str();
  autoProxy.fAutoLogonIfChallenged = options.m_autoLogonIfChallenged ? TRUE : FALSE;
  WINHTTP_PROXY_INFO info = {};
  if (!WinHttpGetProxyForUrl(session.get(), wideUrl.c_str(), &autoProxy, &info)) {
    error = LastHttpError();
    return false;
  }
  const GlobalText found(info.lpszProxy);
  const GlobalText foundBypass(info.lpszProxyBypass);
  proxy = found.Utf8();
  return true;
}

}  // namespace vorneth
