#include "net/http_services.h"
#include "net/proxy_credentials.h"

namespace vorneth {
namespace {

class SystemServices final : public HttpServices {
 public:
  bool ReadUserProxySettings(UserProxySettings& settings, HttpError& error) override {
    return vorneth::ReadUserProxySettings(settings, error);
  }
  bool GetProxyForUrl(const std::string& url, const AutoProxyOptions& options, std::string& proxy,
                      HttpError& error) override {
    return vorneth::GetProxyForUrl(url, options, proxy, error);
  }
  std::unique_ptr<HttpTransport> CreateTransport() override { return CreateHttpTransport(); }
  bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password) override {
    return vorneth::ReadStoredProxyCredential(target, user, password);
  }
  bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password) override {
    return vorneth::PromptProxyCredentials(target, user, password);
  }
};

}  // namespace

HttpServices& PlatformHttpServices() {
  static SystemServices services;
  return services;
}

}  // namespace vorneth
