#include "platform/trace_library.h"

#include <string>

#include "platform/data_directory.h"
#include "platform/trace_library_native.h"

namespace vorneth {

LibraryHandle FindTraceLibrary() {
  const std::string name = native::TraceLibraryName();
  if (LibraryHandle library = FindLoadedLibrary(name)) return library;
  // A bare name: the platform's standard library search.
  if (LibraryHandle library = LoadDynamicLibrary(name)) return library;
  std::string directory = ExecutableDirectory();
  if (!directory.empty()) {
    if (directory.back() != kPathSeparator) directory += kPathSeparator;
    if (LibraryHandle library = LoadDynamicLibrary(directory + name)) return library;
  }
  const std::string registered = native::RegisteredTraceLibrary();
  if (registered.empty()) return {};
  return LoadDynamicLibrary(registered);
}

}  // namespace vorneth
