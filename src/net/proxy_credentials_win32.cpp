// Proxy credentials on Windows: the credential manager's generic
// credentials and the credentials dialog. Every wide copy of a user name or
// password is wiped before its memory goes back.
#include <windows.h>
// windows.h first: wincred.h relies on it.
#include <wincred.h>

#include <cwchar>
#include <string>

#include "net/proxy_credentials.h"
#include "net/windows_secret.h"
#include "platform/windows_text.h"

namespace vorneth {
namespace {

constexpr ULONG kUserNameUnits = 514;
constexpr ULONG kPasswordUnits = 257;
// What the dialog is told went wrong: the proxy asked for credentials.
constexpr DWORD kProxyAuthenticationRequired = 407;
// Generic credentials, always shown, with the "save" box, no certificates.
constexpr DWORD kPromptFlags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_ALWAYS_SHOW_UI |
                               CREDUI_FLAGS_SHOW_SAVE_CHECK_BOX | CREDUI_FLAGS_EXCLUDE_CERTIFICATES;
static_assert(kPromptFlags == 0x400C8);

// Owns what CredReadW returned; wipes the secret before CredFree.
class StoredCredential {
 public:
  StoredCredential() = default;
  ~StoredCredential() {
    if (m_value == nullptr) return;
    if (m_value->CredentialBlob != nullptr) WipeBytes(m_value->CredentialBlob, m_value->CredentialBlobSize);
    CredFree(m_value);
  }
  StoredCredential(const StoredCredential&) = delete;
  StoredCredential& operator=(const StoredCredential&) = delete;

  PCREDENTIALW* out() { return &m_value; }
  const CREDENTIALW* get() const { return m_value; }

 private:
  PCREDENTIALW m_value = nullptr;
};

// Zeroed wide buffers for the dialog, wiped whatever happens.
template <ULONG kUnits>
struct WipedBuffer {
  wchar_t m_units[kUnits] = {};
  ~WipedBuffer() { WipeBytes(m_units, sizeof m_units); }
};

// The password in a stored credential's blob. The credentials dialog, and
// every program that stores proxy passwords for the system's own use,
// store UTF-16 without a terminator: an even-sized blob that is valid
// UTF-16 is read so, up to the first NUL as the system would read it. Any
// other blob (odd size, an unpaired surrogate) was not written as UTF-16;
// its bytes are taken as they are, which keeps a UTF-8 password written by
// another tool usable.
void PasswordFromBlob(const BYTE* blob, DWORD size, SecretText& password) {
  if (blob == nullptr || size == 0) return;
  if (size % 2 == 0) {
    const wchar_t* units = reinterpret_cast<const wchar_t*>(blob);
    if (SecretFromWide(units, wcsnlen(units, size / 2), password)) return;
  }
  password.Assign(std::string_view(reinterpret_cast<const char*>(blob), size));
}

}  // namespace

bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password) {
  user.Clear();
  password.Clear();
  const std::wstring wideTarget = WindowsWide(target);
  if (wideTarget.empty()) return false;  // no proxy names no credential
  StoredCredential credential;
  if (!CredReadW(wideTarget.c_str(), CRED_TYPE_GENERIC, 0, credential.out())) return false;
  const CREDENTIALW* stored = credential.get();
  if (stored->UserName != nullptr && !SecretFromWide(stored->UserName, wcslen(stored->UserName), user)) return false;
  PasswordFromBlob(stored->CredentialBlob, stored->CredentialBlobSize, password);
  return true;
}

bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password) {
  user.Clear();
  password.Clear();
  const std::wstring wideTarget = WindowsWide(target);
  const std::wstring message = L"Please provide authentication credential for " + wideTarget + L".";
  CREDUI_INFOW info = {};
  info.cbSize = sizeof info;
  info.hwndParent = GetActiveWindow();  // none in a console host
  info.pszMessageText = message.c_str();
  info.pszCaptionText = L"Proxy Authentication - Vorneth";
  info.hbmBanner = nullptr;
  WipedBuffer<kUserNameUnits> userName;
  WipedBuffer<kPasswordUnits> secret;
  BOOL save = FALSE;
  // Without a display the dialog fails at once (ERROR_INVALID_WINDOW_HANDLE
  // under wine); like every failure, that counts as cancelled.
  const DWORD result =
      CredUIPromptForCredentialsW(&info, wideTarget.c_str(), nullptr, kProxyAuthenticationRequired, userName.m_units,
                                  kUserNameUnits, secret.m_units, kPasswordUnits, &save, kPromptFlags);
  if (result != NO_ERROR) return false;
  if (!SecretFromWide(userName.m_units, wcsnlen(userName.m_units, kUserNameUnits), user) ||
      !SecretFromWide(secret.m_units, wcsnlen(secret.m_units, kPasswordUnits), password)) {
    user.Clear();
    password.Clear();
    return false;
  }
  return true;
}

}  // namespace vorneth
