#include <string>

#include "platform/trace_library_native.h"

namespace vorneth::native {

const char* TraceLibraryName() {
  return "libquenlog.so";
}

// Linux has no system-wide registration of the library, so the search ends
// beside the executable.
std::string RegisteredTraceLibrary() {
  return {};
}

}  // namespace vorneth::native
