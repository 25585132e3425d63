// An add-on whose command "throw" lets a C++ exception out of onInvoke, as a
// careless add-on might; every other command answers {"ok":true}. Built on
// Linux only: there the exception reaches the host's add-on worker.
#include <stdexcept>
#include <string_view>

#include "vorneth_addon.h"

extern "C" {

int32_t VORNETH_ADDON_CALL onCreate(void* /*host_context*/, EventCallback /*callback*/) {
  return 0;
}

const char* VORNETH_ADDON_CALL onInvoke(int32_t /*instance*/, const char* command, const char* /*params*/) {
  if (std::string_view(command) == "throw") throw std::runtime_error("thrown by the add-on");
  return "{\"ok\":true}";
}

}  // extern "C"
