// Shared libraries that the host loads and never unloads.
//
// The handles are the platform's own library handles. They are not owned by
// anything and are never closed: a library stays loaded until the process
// ends, so code and data it handed out stay valid. All functions are
// thread-safe and report failure by returning nullptr or an empty string.
#ifndef VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_
#define VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>

namespace vorneth {

// Loads the library at `path` (UTF-8) and resolves all its symbols now.
// A path without a directory separator goes through the platform's standard
// library search; a path with one names exactly that file. Loading a library
// that is already loaded returns the same handle.
void* LoadDynamicLibrary(const std::string& path);

// Returns the handle of a library already loaded in the process under the
// file name `name` (the platform's standard form, such as "libfoo.so"), or
// nullptr. Never loads anything.
void* FindLoadedLibrary(const std::string& name);

// Returns the address of the exported symbol `name` of `library`, or nullptr
// when the library does not export it (or `library` is nullptr). Cast the
// result to the entry point's function pointer type.
void* LookupSymbol(void* library, const char* name);

// The directory of the running executable as a UTF-8 path without a trailing
// separator (a root directory keeps its single separator). Empty when it
// cannot be determined.
std::string ExecutableDirectory();

// Makes `directory` the process-wide extra folder in which the dependencies
// of libraries loaded afterwards are found (on Windows the DLL directory,
// with the current folder taken out of the search). Where the loader
// resolves dependencies through the library's own records instead, there is
// nothing to set and the call returns true. Callers serialise it with their
// own lock: the setting is process-wide.
bool SetLibrarySearchDirectory(const std::string& directory);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_DYNAMIC_LIBRARY_H_
