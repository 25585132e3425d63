// Strict conversions between UTF-8 and UTF-16.
//
// Utf8ToWide rejects overlong forms, surrogate code points, values above
// U+10FFFF and cut-off sequences; characters above U+FFFF become surrogate
// pairs. WideToUtf8 rejects unpaired surrogates. On any error the output is
// emptied and false returned; an empty input gives an empty output and true.
// IsStrictUtf8 says whether Utf8ToWide would take a text, without building
// the conversion.
#ifndef VORNETH_PLATFORM_TEXT_CONVERSION_H_
#define VORNETH_PLATFORM_TEXT_CONVERSION_H_

#include <string>
#include <string_view>

namespace vorneth {

bool IsStrictUtf8(std::string_view utf8);
bool Utf8ToWide(std::string_view utf8, std::u16string& wide);
bool WideToUtf8(std::u16string_view wide, std::string& utf8);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_TEXT_CONVERSION_H_
