#include "platform/dynamic_library.h"

#include "platform/dynamic_library_native.h"

namespace vorneth {

void* LibraryHandle::LookupAddress(const char* name) const {
  // A null handle would mean "the whole process" to the platform's lookup,
  // so it is refused here.
  if (m_native == nullptr || name == nullptr || *name == '\0') return nullptr;
  return native::LookupSymbol(m_native, name);
}

LibraryHandle LoadDynamicLibrary(const std::string& path) {
  if (path.empty()) return {};
  return LibraryHandle(native::OpenLibrary(path));
}

LibraryHandle FindLoadedLibrary(const std::string& name) {
  if (name.empty()) return {};
  return LibraryHandle(native::FindLoadedLibrary(name));
}

std::string ExecutableDirectory() {
  std::string path = native::ExecutablePath();
  const size_t separator = path.find_last_of(native::PathSeparators());
  if (separator == std::string::npos) return {};
  // "/host" and "C:\host.exe" keep their root separator.
  if (separator == 0) return path.substr(0, 1);
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  path.resize(separator);
  return path;
}

}  // namespace vorneth
