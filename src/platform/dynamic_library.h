// Shared libraries that the host loads and never unloads.
//
// A LibraryHandle names a library loaded in the process. It owns nothing
// and is never closed: a library stays loaded until the process ends, so
// code and data it handed out stay valid, and handles may be copied freely.
// All functions are thread-safe and report failure by an empty handle, a
// null entry point or an empty string.
#ifndef VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_
#define VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>

namespace vorneth {

class LibraryHandle {
 public:
  // No library.
  LibraryHandle() = default;

  explicit operator bool() const { return m_native != nullptr; }
  bool operator==(const LibraryHandle& other) const = default;

  // The exported entry point `name` as the function pointer type `Entry`,
  // or nullptr when the library does not export it (or there is no library).
  // The caller names the entry point's true type; nothing can check it.
  template <typename Entry>
  Entry LookupSymbol(const char* name) const {
    return reinterpret_cast<Entry>(LookupAddress(name));
  }
  // The address of the exported symbol `name`, or nullptr; for symbols that
  // are looked up but never called.
  void* LookupAddress(const char* name) const;

 private:
  friend LibraryHandle LoadDynamicLibrary(const std::string& path);
  friend LibraryHandle FindLoadedLibrary(const std::string& name);
  explicit LibraryHandle(void* native) : m_native(native) {}

  void* m_native = nullptr;  // the platform's own handle
};

// Loads the library at `path` (UTF-8) and resolves all its symbols now.
// A path without a directory separator goes through the platform's standard
// library search; a path with one names exactly that file. Loading a library
// that is already loaded returns the same handle.
LibraryHandle LoadDynamicLibrary(const std::string& path);

// The library already loaded in the process under the file name `name` (the
// platform's standard form, such as "libfoo.so"), or no library. Never loads
// anything.
LibraryHandle FindLoadedLibrary(const std::string& name);

// The directory of the running executable as a UTF-8 path without a trailing
// separator (a root directory keeps its single separator). Empty when it
// cannot be determined.
std::string ExecutableDirectory();

// The exported entry point `entry` of the module `fileName` in the running
// executable's own folder, loaded by its full path (never through the
// library search) and kept loaded. Null, traced with the module's name and
// why, when the folder is unknown, the file cannot be loaded (missing, not a
// library, a dependency missing) or lacks the entry point. The caller names
// the entry point's true type, as for LookupSymbol.
void* LoadModuleEntryAddress(const std::string& fileName, const char* entry);
template <typename Entry>
Entry LoadModuleEntry(const std::string& fileName, const char* entry) {
  return reinterpret_cast<Entry>(LoadModuleEntryAddress(fileName, entry));
}

// Makes `directory` the process-wide extra folder in which the dependencies
// of libraries loaded afterwards are found. On Windows it becomes the DLL
// directory, the current folder leaves the search, and where the system
// allows it the default search is cut down to the system folder and that
// directory; false when the system refuses the directory. Where the loader
// resolves dependencies through the library's own records instead (a run
// path such as $ORIGIN), there is nothing to set and the call returns true.
// Callers serialise it with their own lock: the setting is process-wide and
// stays after the call.
bool SetLibrarySearchDirectory(const std::string& directory);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_
