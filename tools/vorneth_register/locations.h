// Where each browser finds the host's registration, and the writing and
// removing of it: on Linux a manifest file in the browser's folder for the
// user or the system; on Windows a registry key whose default value names a
// manifest file beside the host. The platform halves are
// locations_posix.cpp and locations_win32.cpp; locations.cpp holds what
// both share.
//
// Every function reports failures as values with a text for people.
// Stateless apart from the files and keys it is asked to touch.
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_LOCATIONS_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_LOCATIONS_H_

#include <optional>
#include <string>

#include "browsers.h"
#include "manifest.h"
#include "options.h"
#include "platform/status.h"

namespace vorneth::reg {

struct Registration {
  const Browser* m_browser = nullptr;
  Scope m_scope = Scope::kUser;
  // Where the browser looks, for people: the manifest's path on Linux, the
  // registry key ("HKCU\...") on Windows.
  std::string m_where;
  // The manifest file; on Windows empty while no key names one.
  std::string m_manifestPath;
};

// Where install puts the registration. Fails when the user's folders are
// unknown (no HOME) for the user scope.
Status PlanRegistration(const Options& options, const Browser& browser, Scope scope, Registration& registration);

// What the browser finds. kFound fills m_manifestPath (the file may still
// be missing on Windows, where the key names it); kAbsent: nothing is
// registered (no manifest file on Linux, no key on Windows).
enum class Lookup { kFound, kAbsent, kFailed };
Lookup FindRegistration(const Options& options, const Browser& browser, Scope scope, Registration& registration,
                        std::string& why);

// Writes `text` as the registration's manifest, creating the folders it
// needs, as one step (a temporary file renamed over the manifest), readable
// by everyone; on Windows then points the key at it.
Status Publish(const Options& options, const Registration& registration, const std::string& text);

// Removes the registration's manifest (Linux) or key (Windows) and nothing
// that is not ours: on Linux the browser's own folders it leaves empty, up
// to the shared folder they lie in (never that); on Windows the manifest
// beside the host once no key of any browser names it any more. `removed`
// tells whether there was a registration.
Status Withdraw(const Options& options, const Registration& registration, bool& removed);

// Checks the host named by the manifest at `manifestPath` with the text
// `hostField` as the browser would: the path must be absolute on Linux
// (Windows reads a relative one from the manifest's folder), the file must
// exist and be executable. `resolved` is the host's full path.
std::optional<Finding> CheckHostFile(const std::string& manifestPath, const std::string& hostField,
                                     std::string& resolved);

// The logging library's file name, as the host looks for it beside itself.
const char* TraceLibraryFileName();
// The host's file name beside the tool.
const char* HostFileName();

// Shared by both halves (locations.cpp): `path`'s folder (UTF-8).
std::string FolderOf(const std::string& path);
// The file `name` in the folder of `path`.
std::string Beside(const std::string& path, const std::string& name);
// Writes `bytes` to `path` as one step, creating `path`'s folder first;
// the file ends readable by everyone.
Status WriteReadableFile(const std::string& path, const std::string& bytes);
// Removes the file `path`; `removed` tells whether it was there.
Status RemoveFile(const std::string& path, bool& removed);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_LOCATIONS_H_
