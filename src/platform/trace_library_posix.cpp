#include "platform/trace_library.h"

#include <string>

#include "platform/dynamic_library.h"

namespace vorneth {
namespace {

constexpr char kTraceLibraryName[] = "libquenlog.so";

}  // namespace

// Linux has no system-wide registration of the library, so the search ends
// beside the executable.
void* FindTraceLibrary() {
  if (void* library = FindLoadedLibrary(kTraceLibraryName)) return library;
  // A bare name: the dynamic linker's search (LD_LIBRARY_PATH, the cache and
  // the default directories).
  if (void* library = LoadDynamicLibrary(kTraceLibraryName)) return library;
  std::string directory = ExecutableDirectory();
  if (directory.empty()) return nullptr;
  if (directory.back() != '/') directory += '/';
  return LoadDynamicLibrary(directory + kTraceLibraryName);
}

}  // namespace vorneth
