// registry.h on Windows: the wide registry functions, in the 64-bit view.
#include <windows.h>

#include <string>
#include <vector>

#include "common/registry_native.h"
#include "platform/windows_text.h"

namespace vorneth::native {
namespace {

HKEY Root(RegistryScope scope) {
  return scope == RegistryScope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::string ErrorText(const std::string& what, const std::string& key, LONG error) {
  return what + " " + key + ": error " + std::to_string(error);
}

// Closes an open key when it goes out of scope.
class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (m_key != nullptr) RegCloseKey(m_key);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* out() { return &m_key; }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

}  // namespace

RegistryRead ReadRegistryDefault(RegistryScope scope, const std::string& key, std::string& value, std::string& why) {
  KeyHandle handle;
  LONG error = RegOpenKeyExW(Root(scope), WindowsWide(key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, handle.out());
  if (error == ERROR_FILE_NOT_FOUND) return RegistryRead::kAbsent;
  if (error != ERROR_SUCCESS) {
    why = ErrorText("cannot open the registry key", key, error);
    return RegistryRead::kFailed;
  }
  DWORD type = 0;
  DWORD bytes = 0;
  error = RegQueryValueExW(handle.get(), nullptr, nullptr, &type, nullptr, &bytes);
  if (error == ERROR_FILE_NOT_FOUND) return RegistryRead::kAbsent;
  if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    why = error != ERROR_SUCCESS ? ErrorText("cannot read the default value of", key, error)
                                 : "the default value of " + key + " is not a text";
    return RegistryRead::kFailed;
  }
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  error = RegQueryValueExW(handle.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
  if (error != ERROR_SUCCESS) {
    why = ErrorText("cannot read the default value of", key, error);
    return RegistryRead::kFailed;
  }
  size_t length = size / sizeof(wchar_t);
  while (length > 0 && text[length - 1] == L'\0') --length;
  if (!WindowsUtf8(text.data(), length, value)) {
    why = "the default value of " + key + " is not valid UTF-16";
    return RegistryRead::kFailed;
  }
  return RegistryRead::kRead;
}

Status WriteRegistryDefault(RegistryScope scope, const std::string& key, const std::string& value) {
  KeyHandle handle;
  LONG error = RegCreateKeyExW(Root(scope), WindowsWide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, handle.out(), nullptr);
  if (error != ERROR_SUCCESS) return Status::Failed(ErrorText("cannot create the registry key", key, error));
  const std::wstring wide = WindowsWide(value);
  const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
  error = RegSetValueExW(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
  if (error != ERROR_SUCCESS) return Status::Failed(ErrorText("cannot set the default value of", key, error));
  return Status::Ok();
}

Status DeleteRegistryKey(RegistryScope scope, const std::string& key) {
  const LONG error = RegDeleteKeyExW(Root(scope), WindowsWide(key).c_str(), KEY_WOW64_64KEY, 0);
  if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) return Status::Ok();
  return Status::Failed(ErrorText("cannot delete the registry key", key, error));
}

}  // namespace vorneth::native
