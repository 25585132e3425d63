#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <string_view>
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

// The loaded objects are looked through by the file names they were loaded
// from; only a match is opened again (RTLD_NOLOAD, by its full path), which
// takes a reference on it that is never dropped, as for every library the
// host holds. Asking dlopen by the bare name instead would search the whole
// library path on disk when the library is not loaded, which is the usual
// case.
void* FindLoadedLibrary(const std::string& name) {
  struct Search {
    const std::string* m_name;
    std::string m_path;
  } search{&name, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* search = static_cast<Search*>(data);
        const std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
        const size_t slash = path.rfind('/');
        const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (file != *search->m_name) return 0;
        search->m_path = path;
        return 1;
      },
      &search);
  if (search.m_path.empty()) return nullptr;
  return dlopen(search.m_path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
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
