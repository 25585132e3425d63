#include "platform/http_transport.h"

namespace vorneth {
namespace {

// Placeholder until the system's HTTP stack is wired in: every step fails.
class UnavailableTransport final : public HttpTransport {
 public:
  HttpError CrackServer(const std::string&, ServerParts&) override { return kHttpErrorInternal; }
  HttpError OpenSession(const std::string&, const std::string&, const std::string&) override {
    return kHttpErrorInternal;
  }
  HttpError SetSecureProtocols(uint32_t) override { return kHttpErrorInternal; }
  HttpError Connect(const std::string&, uint16_t) override { return kHttpErrorInternal; }
  HttpError OpenRequest(const std::string&, bool) override { return kHttpErrorInternal; }
  HttpError AddRequestHeader(const std::string&) override { return kHttpErrorInternal; }
  HttpError SetAutoLogonPolicyLow() override { return kHttpErrorInternal; }
  HttpError SetProxyCredentials(ProxyAuthScheme, const SecretText&, const SecretText&) override {
    return kHttpErrorInternal;
  }
  HttpError SendRequest() override { return kHttpErrorInternal; }
  HttpError ReceiveResponse() override { return kHttpErrorInternal; }
  HttpError QueryStatusCode(uint32_t&) override { return kHttpErrorInternal; }
  HttpError QueryContentLength(std::optional<uint64_t>&) override { return kHttpErrorInternal; }
  HttpError QueryDataAvailable(size_t&) override { return kHttpErrorInternal; }
  HttpError ReadData(uint8_t*, size_t, size_t&) override { return kHttpErrorInternal; }
};

}  // namespace

std::unique_ptr<HttpTransport> CreateHttpTransport() {
  return std::make_unique<UnavailableTransport>();
}

}  // namespace vorneth
