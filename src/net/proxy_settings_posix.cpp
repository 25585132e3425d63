// Proxy discovery through libproxy, which makes the whole decision: the
// desktop's settings, the environment (http_proxy, https_proxy, no_proxy),
// configuration scripts where a script runner is installed, WPAD, and the
// bypass rules.
//
// One factory serves the process: libproxy documents
// px_proxy_factory_get_proxies as thread-safe (it locks its own state), and
// a shared factory keeps what libproxy caches between calls, a downloaded
// configuration script above all. It is made on first use and kept for the
// life of the process.
#include <proxy.h>

#include <array>
#include <memory>
#include <string_view>

#include "net/proxy_settings.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

pxProxyFactory* SharedFactory() {
  static pxProxyFactory* const factory = px_proxy_factory_new();
  return factory;
}

struct ProxiesDeleter {
  void operator()(char** proxies) const { px_proxy_factory_free_proxies(proxies); }
};

// libproxy's answers that a transport can use, and how curl spells them.
struct ProxyScheme {
  std::string_view m_libproxy;
  std::string_view m_curl;
};
constexpr std::array kProxySchemes{
    ProxyScheme{"http://", "http://"},       ProxyScheme{"https://", "https://"},
    ProxyScheme{"socks://", "socks5://"},    ProxyScheme{"socks5://", "socks5://"},
    ProxyScheme{"socks4://", "socks4://"},   ProxyScheme{"socks4a://", "socks4a://"},
    ProxyScheme{"socks5h://", "socks5h://"},
};

// The URL libproxy is asked about: the server text with a path.
std::string RequestUrl(const std::string& url) {
  const size_t separator = url.find("://");
  const size_t authority = separator == std::string::npos ? 0 : separator + 3;
  return url.find('/', authority) == std::string::npos ? url + "/" : url;
}

}  // namespace

bool ReadUserProxySettings(UserProxySettings& settings, HttpError& /*error*/) {
  settings = UserProxySettings{};
  settings.m_autoDetect = true;
  return true;
}

bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& /*options*/, std::string& proxy, HttpError& error) {
  TraceFunction trace("GetProxyForUrl");
  trace.Text("url", url);
  pxProxyFactory* factory = SharedFactory();
  if (factory == nullptr) {
    trace.Message("px_proxy_factory_new failed");
    error = kHttpErrorAutoProxyService;
    return false;
  }
  const std::unique_ptr<char*, ProxiesDeleter> proxies(px_proxy_factory_get_proxies(factory, RequestUrl(url).c_str()));
  const char* first = proxies != nullptr ? proxies.get()[0] : nullptr;
  if (first == nullptr) {
    trace.Message("px_proxy_factory_get_proxies gave no answer");
    error = kHttpErrorAutodetectionFailed;
    return false;
  }
  const std::string_view answer(first);
  trace.Text("proxy", answer);
  if (answer == "direct://") {
    proxy.clear();
    return true;
  }
  for (const ProxyScheme& scheme : kProxySchemes) {
    if (answer.substr(0, scheme.m_libproxy.size()) != scheme.m_libproxy) continue;
    proxy = std::string(scheme.m_curl);
    proxy += answer.substr(scheme.m_libproxy.size());
    return true;
  }
  trace.Message("the proxy's scheme is not one the transport speaks");
  error = kHttpErrorAutodetectionFailed;
  return false;
}

}  // namespace vorneth
