#include "platform/proxy_settings.h"

namespace vorneth {

// Placeholder: no settings, no discovery.
bool ReadUserProxySettings(UserProxySettings& /*settings*/, HttpError& error) {
  error = kHttpErrorInternal;
  return false;
}

bool GetProxyForUrl(const std::string& /*url*/, const AutoProxyOptions& /*options*/, std::string& /*proxy*/,
                    HttpError& error) {
  error = kHttpErrorAutodetectionFailed;
  return false;
}

}  // namespace vorneth
