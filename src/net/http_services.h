// Everything the download client asks of the system, behind one interface
// that tests replace: proxy settings and discovery (proxy_settings.h),
// stored and prompted proxy credentials (proxy_credentials.h) and the
// transport of one exchange (http_transport.h).
//
// PlatformHttpServices() forwards to the platform's implementations linked
// into the calling program; the host reaches them through
// SystemHttpServices() (http_module.h). They are stateless and may be used
// from any thread at the same time; a replacement states its own rules.
#ifndef VORNETH_NET_HTTP_SERVICES_H_
#define VORNETH_NET_HTTP_SERVICES_H_

#include <cstdint>
#include <memory>
#include <string>

#include "net/http_transport.h"
#include "net/proxy_settings.h"
#include "net/secret_text.h"

namespace vorneth {

class HttpServices {
 public:
  virtual ~HttpServices() = default;
  virtual bool ReadUserProxySettings(UserProxySettings& settings, HttpError& error) = 0;
  virtual bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& options, std::string& proxy,
                              HttpError& error) = 0;
  virtual std::unique_ptr<HttpTransport> CreateTransport() = 0;
  virtual bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password) = 0;
  virtual bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password) = 0;
};

HttpServices& PlatformHttpServices();

// The HTTP module of the Linux host (http_module.h) exports one C entry
// point, kHttpModuleEntryPoint, of type HttpModuleEntry: given
// kHttpModuleInterfaceVersion it returns its PlatformHttpServices(), given
// any other version null. The host and its module are built together from
// the same sources; the version only guards against a module left from
// another build.
inline constexpr char kHttpModuleFileName[] = "vorneth-http.so";
inline constexpr char kHttpModuleEntryPoint[] = "VornethHttpServices";
inline constexpr uint32_t kHttpModuleInterfaceVersion = 1;
using HttpModuleEntry = HttpServices* (*)(uint32_t version);

}  // namespace vorneth

#endif  // VORNETH_NET_HTTP_SERVICES_H_
