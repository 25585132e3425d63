#include "net/http_module.h"

namespace vorneth {

// WinHTTP and CredUI are part of the system, so the services are linked.
HttpServices* SystemHttpServices() {
  return &PlatformHttpServices();
}

}  // namespace vorneth
