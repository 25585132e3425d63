// locations.h on Windows: a registry key per browser and scope whose
// default value names a manifest file beside the host, one for the Chromium
// family and one for Firefox, shared by both scopes.
#include <filesystem>
#include <system_error>

#include "common/registry.h"
#include "locations.h"
#include "platform/path_utf8.h"

namespace vorneth::reg {
namespace {

namespace fs = std::filesystem;

RegistryScope KeyScope(Scope scope) {
  return scope == Scope::kUser ? RegistryScope::kUser : RegistryScope::kMachine;
}

std::string KeyName(const Browser& browser, Scope scope) {
  return std::string(scope == Scope::kUser ? "HKCU\\" : "HKLM\\") + std::string(browser.m_registryKey);
}

std::string ManifestBesideHost(const Options& options, Family family) {
  return Beside(options.m_host, family == Family::kFirefox ? "org.vorneth.host.firefox.json" : kManifestFileName);
}

// True when a key of any browser in any scope names `manifest`.
bool StillNamed(const std::string& manifest) {
  for (const Browser& browser : AllBrowsers()) {
    for (const Scope scope : {Scope::kUser, Scope::kSystem}) {
      std::string value;
      std::string why;
      const RegistryRead read = ReadRegistryDefault(KeyScope(scope), std::string(browser.m_registryKey), value, why);
      if (read == RegistryRead::kRead && value == manifest) return true;
    }
  }
  return false;
}

}  // namespace

Status PlanRegistration(const Options& options, const Browser& browser, Scope scope, Registration& registration) {
  registration.m_browser = &browser;
  registration.m_scope = scope;
  registration.m_where = KeyName(browser, scope);
  registration.m_manifestPath = ManifestBesideHost(options, browser.m_family);
  return Status::Ok();
}

Lookup FindRegistration(const Options&, const Browser& browser, Scope scope, Registration& registration,
                        std::string& why) {
  registration.m_browser = &browser;
  registration.m_scope = scope;
  registration.m_where = KeyName(browser, scope);
  registration.m_manifestPath.clear();
  const RegistryRead read =
      ReadRegistryDefault(KeyScope(scope), std::string(browser.m_registryKey), registration.m_manifestPath, why);
  if (read == RegistryRead::kFailed) return Lookup::kFailed;
  return read == RegistryRead::kRead ? Lookup::kFound : Lookup::kAbsent;
}

Status Publish(const Options&, const Registration& registration, const std::string& text) {
  const Status written = WriteReadableFile(registration.m_manifestPath, text);
  if (!written.ok()) return written;
  const Status keyed = WriteRegistryDefault(
      KeyScope(registration.m_scope), std::string(registration.m_browser->m_registryKey), registration.m_manifestPath);
  if (!keyed.ok()) return Status::Failed("cannot write " + registration.m_where + ": " + keyed.why());
  return Status::Ok();
}

Status Withdraw(const Options&, const Registration& registration, bool& removed) {
  const std::string key(registration.m_browser->m_registryKey);
  const RegistryScope scope = KeyScope(registration.m_scope);
  std::string named;
  std::string why;
  const RegistryRead read = ReadRegistryDefault(scope, key, named, why);
  if (read == RegistryRead::kFailed) return Status::Failed(why);
  removed = read == RegistryRead::kRead;
  const Status deleted = DeleteRegistryKey(scope, key);
  if (!deleted.ok()) return Status::Failed("cannot delete " + registration.m_where + ": " + deleted.why());
  // The manifest the key named, and ours beside the host, once unused.
  for (const std::string& manifest : {named, registration.m_manifestPath}) {
    if (manifest.empty() || StillNamed(manifest)) continue;
    bool gone = false;
    const Status status = RemoveFile(manifest, gone);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

std::optional<Finding> CheckHostFile(const std::string& manifestPath, const std::string& hostField,
                                     std::string& resolved) {
  fs::path host;
  fs::path manifest;
  if (!Utf8ToPath(hostField, host) || !Utf8ToPath(manifestPath, manifest)) {
    return Finding{"\"path\" is not UTF-8", "write the host's full path there", Effect::kNotFound};
  }
  // A relative path is read from the manifest's folder.
  if (!host.is_absolute()) host = manifest.parent_path() / host;
  const std::u8string utf8 = host.u8string();
  resolved.assign(utf8.begin(), utf8.end());
  std::error_code error;
  if (!fs::is_regular_file(host, error)) {
    return Finding{"the host " + resolved + " does not exist (or is no file)",
                   "install the host there or point \"path\" at it", Effect::kCannotStart};
  }
  return std::nullopt;
}

const char* TraceLibraryFileName() {
  return "Quenlog.dll";
}
const char* HostFileName() {
  return "vorneth-host.exe";
}

}  // namespace vorneth::reg
