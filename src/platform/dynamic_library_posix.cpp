#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace vorneth {

// RTLD_LOCAL keeps each library's symbols to itself, so two add-ons (or an
// add-on and the logging library) exporting the same names cannot bind to
// each other's definitions.
void* LoadDynamicLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// dlopen with RTLD_NOLOAD matches a loaded object by the name it was loaded
// under or by its soname and takes a reference on it; the reference is never
// dropped, as for every library the host holds.
void* FindLoadedLibrary(const std::string& name) {
  if (name.empty()) return nullptr;
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

// A null handle would mean RTLD_DEFAULT to dlsym and search the whole
// process, so it is refused here.
void* LookupSymbol(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

std::string ExecutableDirectory() {
  std::vector<char> buffer(256);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      size_t slash = path.rfind('/');
      if (slash == std::string::npos) return {};
      if (slash == 0) return "/";
      return path.substr(0, slash);
    }
    // The link may have been cut at the buffer's end: retry with more room.
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

bool SetLibrarySearchDirectory(const std::string& /*directory*/) {
  // The dynamic linker finds a library's dependencies through the library's
  // own search path (its RUNPATH, e.g. $ORIGIN); there is no process-wide
  // directory to set.
  return true;
}

}  // namespace vorneth
