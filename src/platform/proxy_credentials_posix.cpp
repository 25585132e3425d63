#include "platform/proxy_credentials.h"

namespace vorneth {

// Placeholder: no store, no dialog.
bool ReadStoredProxyCredential(const std::string& /*target*/, SecretText& /*user*/, SecretText& /*password*/) {
  return false;
}

bool PromptProxyCredentials(const std::string& /*target*/, SecretText& /*user*/, SecretText& /*password*/) {
  return false;
}

}  // namespace vorneth
