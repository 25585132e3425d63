// The per-platform halves of dynamic_library.h. Internal to the platform
// layer: dynamic_library.cpp refuses empty names and null handles before it
// calls them.
#ifndef VORNETH_PLATFORM_DYNAMIC_LIBRARY_NATIVE_H_
#define VORNETH_PLATFORM_DYNAMIC_LIBRARY_NATIVE_H_

#include <string>

namespace vorneth::native {

// The platform's handle, or nullptr. `path` and `name` are not empty.
void* OpenLibrary(const std::string& path);
void* FindLoadedLibrary(const std::string& name);
// `library` and `name` are not null.
void* LookupSymbol(void* library, const char* name);
// The running executable's full path (UTF-8), or empty.
std::string ExecutablePath();
// The separators a path may use on this platform.
const char* PathSeparators();

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_DYNAMIC_LIBRARY_NATIVE_H_
