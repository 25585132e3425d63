// UTF-8 texts in the form the Windows W functions take (wchar_t is 16 bits
// there). Windows-only; the portable conversions are in text_conversion.h.
#ifndef VORNETH_PLATFORM_WINDOWS_TEXT_H_
#define VORNETH_PLATFORM_WINDOWS_TEXT_H_

#include <string>
#include <string_view>

#include "platform/text_conversion.h"

namespace vorneth {

// The wide form of `utf8`; empty when it is empty or not valid UTF-8.
inline std::wstring WindowsWide(std::string_view utf8) {
  std::u16string wide;
  if (!Utf8ToWide(utf8, wide)) return {};
  return std::wstring(wide.begin(), wide.end());
}

// The UTF-8 form of `length` wide characters; false when they are not valid
// UTF-16.
inline bool WindowsUtf8(const wchar_t* wide, size_t length, std::string& utf8) {
  return WideToUtf8(std::u16string(wide, wide + length), utf8);
}

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_WINDOWS_TEXT_H_
