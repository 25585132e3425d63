// Proxy credentials: stored ones, and the credentials dialog.
//
// Credentials are named by a target: the proxy text in use (an empty
// target is allowed and names no proxy). On Windows a stored credential is
// the credential manager's generic credential of that name (CredReadW) and
// the dialog is CredUIPromptForCredentialsW, which keeps a credential the
// user asks to save under the target. On Linux the store is the desktop's
// Secret Service (libsecret): an item of the schema "org.vorneth.ProxyCredential"
// whose attribute "target" is the target, with the user name in the
// attribute "user" and the password as the secret; the dialog is zenity or
// kdialog, when one is installed and a display is there, and a credential
// the user asks to remember is stored as such an item.
//
// Both calls block, the dialog until the user answers. Thread-safe.
#ifndef VORNETH_NET_PROXY_CREDENTIALS_H_
#define VORNETH_NET_PROXY_CREDENTIALS_H_

#include <string>

#include "net/secret_text.h"

namespace vorneth {

// The stored credential for `target`. False (and both left empty) when
// there is none or no store can be reached.
bool ReadStoredProxyCredential(const std::string& target, SecretText& user, SecretText& password);

// Asks the user for the credentials of the proxy `target`, with the message
// "Please provide authentication credential for <target>." and the caption
// "Proxy Authentication - Vorneth". False (and both left empty) when the
// user cancels or no dialog can be shown.
bool PromptProxyCredentials(const std::string& target, SecretText& user, SecretText& password);

}  // namespace vorneth

#endif  // VORNETH_NET_PROXY_CREDENTIALS_H_
