#include "addons/addon_library.h"

#include <type_traits>

#include "platform/addon_platform.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// The entry points' types come from the SDK header, so host and add-ons
// cannot disagree on them (cdecl included).
using InitPathEntry = decltype(&::onInitPath);
using CreateEntry = decltype(&::onCreate);
using DisposeEntry = decltype(&::onDispose);
using InvokeEntry = decltype(&::onInvoke);
using TextEntry = decltype(&::onGetCSS);
static_assert(std::is_same_v<TextEntry, decltype(&::onGetJS)>);
// The registration entry points return a C bool, of which the host reads the
// low 8 bits: a library built elsewhere may leave any non-zero byte there,
// which a bool result would not be allowed to hold.
using EventEntryType = uint8_t(VORNETH_ADDON_CALL*)(int32_t instance, const char* name);
// Clang's undefined-behaviour sanitizer checks that a call's type is the
// callee's own; the call through EventEntryType differs from it on purpose.
#if defined(__clang__)
#define VORNETH_READS_C_BOOL_AS_BYTE __attribute__((no_sanitize("function")))
#else
#define VORNETH_READS_C_BOOL_AS_BYTE
#endif

}  // namespace

LibraryHandle AddOnLibrary::Load(const std::string& folder) {
  if (!SetLibrarySearchDirectory(folder)) {
    TraceFunction trace("AddOnLibrary::Load");
    trace.Text("folder.c_str ()", folder);
    trace.Message("the library search directory could not be set");
    return {};
  }
  return LoadDynamicLibrary(folder + kAddOnLibraryFile);
}

bool AddOnLibrary::InitPath(const std::string& path) const {
  const auto entry = m_library.LookupSymbol<InitPathEntry>("onInitPath");
  if (entry == nullptr) return false;
  entry(path.c_str());
  return true;
}

std::optional<int32_t> AddOnLibrary::Create(void* context, ::EventCallback callback) const {
  const auto entry = m_library.LookupSymbol<CreateEntry>("onCreate");
  if (entry == nullptr) return std::nullopt;
  return entry(context, callback);
}

bool AddOnLibrary::Dispose(int32_t instance) const {
  const auto entry = m_library.LookupSymbol<DisposeEntry>("onDispose");
  if (entry == nullptr) return false;
  entry(instance);
  return true;
}

std::optional<std::string> AddOnLibrary::Invoke(int32_t instance, const std::string& command,
                                                const char* params) const {
  const auto entry = m_library.LookupSymbol<InvokeEntry>("onInvoke");
  if (entry == nullptr) return std::nullopt;
  const char* result = entry(instance, command.c_str(), params);
  return std::string(result != nullptr ? result : "");
}

std::optional<bool> AddOnLibrary::RegisterEvent(int32_t instance, const std::string& name) const {
  return EventEntry("onRegisterEvent", instance, name);
}

std::optional<bool> AddOnLibrary::UnregisterEvent(int32_t instance, const std::string& name) const {
  return EventEntry("onUnregisterEvent", instance, name);
}

VORNETH_READS_C_BOOL_AS_BYTE std::optional<bool> AddOnLibrary::EventEntry(const char* entryName, int32_t instance,
                                                                          const std::string& name) const {
  const auto entry = m_library.LookupSymbol<EventEntryType>(entryName);
  if (entry == nullptr) return std::nullopt;
  return entry(instance, name.c_str()) != 0;
}

std::optional<std::string> AddOnLibrary::CSS() const {
  return LibraryText("onGetCSS");
}

std::optional<std::string> AddOnLibrary::JS() const {
  return LibraryText("onGetJS");
}

std::optional<std::string> AddOnLibrary::LibraryText(const char* entryName) const {
  const auto entry = m_library.LookupSymbol<TextEntry>(entryName);
  if (entry == nullptr) return std::nullopt;
  const char* text = entry();
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

}  // namespace vorneth
