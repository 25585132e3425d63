// The browsers vorneth-register knows: where each looks for the manifest of
// a native-messaging host on Linux (per user and for the whole system) and
// which registry key names it on Windows, and the texts each shows an
// extension when the host cannot be used.
//
// A constant table; stateless.
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_BROWSERS_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_BROWSERS_H_

#include <span>
#include <string_view>

namespace vorneth::reg {

// The name browsers know the host by, and its manifest's file name.
inline constexpr char kHostName[] = "org.vorneth.host";
inline constexpr char kManifestFileName[] = "org.vorneth.host.json";

enum class Scope { kUser, kSystem };
// "user" or "system".
const char* ScopeName(Scope scope);

// Browsers built on Chromium take "allowed_origins"; Firefox takes
// "allowed_extensions".
enum class Family { kChromium, kFirefox };

// What an extension is told when the host cannot be used.
struct BrowserTexts {
  std::string_view m_notFound;     // no usable manifest
  std::string_view m_forbidden;    // the extension is not allowed
  std::string_view m_cannotStart;  // the host named by the manifest does not start
  std::string_view m_hostExited;   // the host started but did not answer
};

struct Browser {
  std::string_view m_name;   // as --browser takes it: "chrome"
  std::string_view m_title;  // as people call it: "Chrome"
  Family m_family;
  // Linux, per user: `m_userOwn` below the user's configuration folder
  // ($XDG_CONFIG_HOME or $HOME/.config), or below $HOME itself when
  // `m_userUnderHome`.
  bool m_userUnderHome;
  std::string_view m_userOwn;
  // Linux, whole system: `m_systemOwn` below the shared folder
  // `m_systemBase`. The "own" parts are the browser's: an uninstall removes
  // them when it leaves them empty, and never the base above them.
  std::string_view m_systemBase;
  std::string_view m_systemOwn;
  // Windows: the key below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE whose
  // default value is the manifest's full path.
  std::string_view m_registryKey;
};

std::span<const Browser> AllBrowsers();
// nullptr for a name no browser has.
const Browser* FindBrowser(std::string_view name);
const BrowserTexts& TextsOf(const Browser& browser);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_BROWSERS_H_
