// The host's trace functions (platform/trace.h) as the library's copy of the
// platform code sees them: off. The library reuses the host's data-folder
// lookup, which traces; inside the trace sink itself those traces would
// come back into the library while it opens its file. Only in the shared
// library, never in a program that has the real trace facility.
#include "platform/trace.h"

namespace vorneth {

TraceState TraceLoad() {
  return TraceState::kOff;
}

bool TraceEnabled() {
  return false;
}

intptr_t TracePrepare(const char*) {
  return 0;
}

void TraceEnter(intptr_t) {}

int32_t TraceLeave(intptr_t, int32_t result) {
  return result;
}

void TraceOutput(intptr_t, const char*) {}
void TraceText(intptr_t, const char*, std::string_view) {}
void TraceDataText(intptr_t, const char*, std::string_view) {}
void TraceNumber(intptr_t, const char*, int32_t) {}
void TracePointer(intptr_t, const char*, const void*) {}

int32_t TraceLevel() {
  return 0x7FFFFFFF;
}

}  // namespace vorneth
