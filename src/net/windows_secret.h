// Proxy user names and passwords in the wide form the Windows W functions
// take, wiped when they go. Windows-only, for the HTTP platform files.
//
// The conversions are the project's strict ones. UTF-8 to UTF-16 fills a
// buffer reserved for the whole text beforehand (UTF-16 never needs more
// units than the UTF-8 text has bytes), so no copy is left behind in
// released memory; the other direction grows its buffer for characters
// beyond ASCII, which may leave parts of such a text in released memory.
#ifndef VORNETH_NET_WINDOWS_SECRET_H_
#define VORNETH_NET_WINDOWS_SECRET_H_

#include <string>

#include "net/secret_text.h"
#include "platform/text_conversion.h"

namespace vorneth {

class WideSecret {
 public:
  // Invalid UTF-8 gives an empty text and valid() false.
  explicit WideSecret(const SecretText& text) : m_valid(Utf8ToWide(text.view(), m_text)) {}
  ~WideSecret() { WipeBytes(m_text.data(), (m_text.capacity() + 1) * sizeof(char16_t)); }
  WideSecret(const WideSecret&) = delete;
  WideSecret& operator=(const WideSecret&) = delete;

  bool valid() const { return m_valid; }
  // The text, or null when it is empty: "none" to the system.
  const wchar_t* OrNull() const { return m_text.empty() ? nullptr : reinterpret_cast<const wchar_t*>(m_text.c_str()); }

 private:
  std::u16string m_text;
  bool m_valid;
};

// `length` wide characters as UTF-8 into `secret`; the intermediate text is
// wiped. False (and `secret` emptied) when they are not valid UTF-16.
inline bool SecretFromWide(const wchar_t* wide, size_t length, SecretText& secret) {
  std::string utf8;
  const bool converted = WideToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length), utf8);
  if (converted) {
    secret.Assign(utf8);
  } else {
    secret.Clear();
  }
  WipeBytes(utf8.data(), utf8.capacity() + 1);
  return converted;
}

}  // namespace vorneth

#endif  // VORNETH_NET_WINDOWS_SECRET_H_
