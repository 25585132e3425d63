// An add-on library as the host calls it: the entry points of
// vorneth_addon.h, each looked up by name at every call and never called
// when the library does not export it.
//
// Texts an entry point returns stay the library's; every call here copies
// them before it returns. A call into the library runs the add-on's own
// code, on the caller's thread: the add-on worker of the instance.
//
// Load changes the process's library search for the add-on's own libraries
// and is serialised by the caller (the session's library-loading lock).
// Everything else may be called from any thread.
#ifndef VORNETH_ADDONS_ADDON_LIBRARY_H_
#define VORNETH_ADDONS_ADDON_LIBRARY_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dynamic_library.h"
#include "vorneth_addon.h"

namespace vorneth {

class AddOnLibrary {
 public:
  explicit AddOnLibrary(LibraryHandle library) : m_library(library) {}

  // Loads the add-on library of the installation folder `folder` (which
  // ends in a separator), with the folder made the place where the
  // library's own libraries are found. No library when the search cannot be
  // set or the file cannot be loaded (missing, damaged, for another
  // platform, or a dependency missing).
  static LibraryHandle Load(const std::string& folder);

  LibraryHandle handle() const { return m_library; }

  // Each of these returns false or nullopt, calling nothing, when the entry
  // point is not exported.
  bool InitPath(const std::string& path) const;
  std::optional<int32_t> Create(void* context, ::EventCallback callback) const;
  bool Dispose(int32_t instance) const;
  // The returned text; an empty one for a null result. `params` is handed
  // over as it is, not copied (it may be as large as a request).
  std::optional<std::string> Invoke(int32_t instance, const std::string& command, const char* params) const;
  // Whether the library accepted: the low 8 bits of its result, not zero.
  std::optional<bool> RegisterEvent(int32_t instance, const std::string& name) const;
  std::optional<bool> UnregisterEvent(int32_t instance, const std::string& name) const;
  // The text; nullopt also for a null result.
  std::optional<std::string> CSS() const;
  std::optional<std::string> JS() const;

 private:
  std::optional<bool> EventEntry(const char* entry, int32_t instance, const std::string& name) const;
  std::optional<std::string> LibraryText(const char* entry) const;

  LibraryHandle m_library;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_LIBRARY_H_
