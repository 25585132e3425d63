#include "platform/dynamic_library.h"

#include "platform/dynamic_library_native.h"
#include "platform/trace.h"

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

void* LoadModuleEntryAddress(const std::string& fileName, const char* entry) {
  TraceFunction trace("LoadModuleEntry");
  trace.Text("fileName", fileName);
  const std::string folder = ExecutableDirectory();
  if (folder.empty()) {
    trace.Message("the executable's folder is unknown");
    return nullptr;
  }
  const std::string separator(1, native::PathSeparators()[0]);
  const std::string path = folder.ends_with(separator) ? folder + fileName : folder + separator + fileName;
  trace.Text("path", path);
  const LibraryHandle module = LoadDynamicLibrary(path);
  if (!module) {
    trace.Message("the module could not be loaded");
    return nullptr;
  }
  void* address = module.LookupAddress(entry);
  if (address == nullptr) trace.Message("the module has no entry point");
  return address;
}

}  // namespace vorneth
