// Where the logging library comes from.
//
// The library is optional and is searched, stopping at the first way that
// yields it: a copy already loaded in the process, the platform's standard
// library search by bare name, the directory of the host's own executable,
// and, where the platform has one, a location recorded in the system
// configuration. The file name is the platform's form of the library name
// ("libquenlog.so" on Linux, "Quenlog.dll" on Windows).
#ifndef VORNETH_PLATFORM_TRACE_LIBRARY_H_
#define VORNETH_PLATFORM_TRACE_LIBRARY_H_

#include "platform/dynamic_library.h"

namespace vorneth {

// The library, or no library when it is found nowhere. The library is never
// unloaded. Runs the whole search on every call; the trace facility calls it
// once per process. Traces nothing: tracing is what it looks for.
LibraryHandle FindTraceLibrary();

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_TRACE_LIBRARY_H_
