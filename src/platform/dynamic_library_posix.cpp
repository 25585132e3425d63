#include <dlfcn.h>
#include <unistd.h>

#include <vector>

#include "platform/dynamic_library.h"
#include "platform/dynamic_library_native.h"

namespace vorneth::native {

// RTLD_LOCAL keeps each library's symbols to itself, so two add-ons (or an
// add-on and the logging library) exporting the same names cannot bind to
// each other's definitions.
void* OpenLibrary(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// dlopen with RTLD_NOLOAD matches a loaded object by the name it was loaded
// under or by its soname and takes a reference on it; the reference is never
// dropped, as for every library the host holds.
void* FindLoadedLibrary(const std::string& name) {
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

void* LookupSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
    // The link may have been cut at the buffer's end: retry with more room.
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

const char* PathSeparators() {
  return "/";
}

}  // namespace vorneth::native

namespace vorneth {

bool SetLibrarySearchDirectory(const std::string& /*directory*/) {
  // The dynamic linker finds a library's dependencies through the library's
  // own search path (its RUNPATH, e.g. $ORIGIN); there is no process-wide
  // directory to set.
  return true;
}

}  // namespace vorneth
