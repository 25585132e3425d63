// The desktop's password dialog for a proxy credential, on POSIX desktops.
//
// The dialog is zenity, else kdialog, whichever is first found as an
// executable file on PATH, and only when DISPLAY or WAYLAND_DISPLAY is set
// (not empty); without one of them there is nothing to show. The program
// runs as a child without a shell: its standard input is /dev/null, its
// standard output a pipe read to its end, its standard error the caller's.
// Exit status 0 is an answer; any other status, a signal, or output that
// does not parse, is a cancel.
//
// zenity shows one form: "User name" and "Password" entries and a
// "Remember" choice of "No" or "Yes", printed one per line (a line feed
// cannot be typed into an entry). kdialog asks in three steps: an input box
// for the user name, a password box, and a yes/no question whether to
// remember; "no" to the last one still answers the credential.
//
// An answer with an empty user name counts as a cancel, as the system's
// credentials dialog does not accept one. Every byte read from the dialog
// is wiped before its buffer goes back.
//
// Blocks until the user answers. Thread-safe: each call runs its own child.
#ifndef VORNETH_NET_CREDENTIAL_DIALOG_POSIX_H_
#define VORNETH_NET_CREDENTIAL_DIALOG_POSIX_H_

#include <string>

#include "net/secret_text.h"

namespace vorneth::posix {

struct DialogCredential {
  SecretText m_user;
  SecretText m_password;
  bool m_remember = false;
};

// Shows `message` under `caption` and asks for a user name and a password.
// False (and `answer` left empty) when no dialog could be shown or the user
// cancelled; `why` then says which, for the trace.
bool AskCredentialDialog(const std::string& caption, const std::string& message, DialogCredential& answer,
                         std::string& why);

}  // namespace vorneth::posix

#endif  // VORNETH_NET_CREDENTIAL_DIALOG_POSIX_H_
