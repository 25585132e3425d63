// The per-platform halves of trace_library.h. Internal to the platform
// layer: trace_library.cpp runs the search in its order and asks these for
// what differs.
#ifndef VORNETH_PLATFORM_TRACE_LIBRARY_NATIVE_H_
#define VORNETH_PLATFORM_TRACE_LIBRARY_NATIVE_H_

#include <string>

namespace vorneth::native {

// The library's file name in the platform's form.
const char* TraceLibraryName();
// The library's full path as the system configuration records it, or empty
// where there is no such record.
std::string RegisteredTraceLibrary();

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_TRACE_LIBRARY_NATIVE_H_
