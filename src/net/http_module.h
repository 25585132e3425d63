// Where the host finds the system's HTTP services.
//
// On Linux the HTTP stack (libcurl, libproxy, libsecret and what they pull
// in: GLib, a TLS library, Kerberos, LDAP...) is forty-odd shared objects.
// Most hosts never download anything, so the host does not link them: the
// services live in a module of their own, kHttpModuleFileName, installed
// beside the host executable and loaded by its full path the first time a
// download needs it (never through the library search). On Windows the
// services stay linked: WinHTTP and CredUI are system libraries.
//
// The module and its entry point are named in http_services.h.
#ifndef VORNETH_NET_HTTP_MODULE_H_
#define VORNETH_NET_HTTP_MODULE_H_

#include "net/http_services.h"

namespace vorneth {

// The host's HTTP services. On Linux the first call loads the module (later
// calls return what it gave); a module that is missing, cannot be loaded,
// lacks the entry point or refuses the version gives null, traced, and the
// next call tries again. Thread-safe.
HttpServices* SystemHttpServices();

}  // namespace vorneth

#endif  // VORNETH_NET_HTTP_MODULE_H_
