// Strict UTF-8 <-> UTF-16 conversions, written out by hand so that both
// directions behave the same on every platform (the C++ library's codecvt
// facets are deprecated and differ in what they accept).
#include "platform/text_conversion.h"

#include <cstdint>
#include <utility>

namespace vorneth {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

bool IsSurrogate(char32_t code) {
  return code >= 0xD800 && code <= 0xDFFF;
}

// Decodes one code point starting at utf8[i]; advances i past it. Returns
// false for any malformed, overlong, surrogate or out-of-range sequence.
bool DecodeOne(std::string_view utf8, size_t& i, char32_t& code) {
  const unsigned char lead = static_cast<unsigned char>(utf8[i]);
  size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    ++i;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
    code = lead & 0x07;
  } else {
    return false;  // a stray continuation byte or 0xF8..0xFF
  }
  if (utf8.size() - i < length) return false;  // cut off at the end
  for (size_t k = 1; k < length; ++k) {
    const unsigned char byte = static_cast<unsigned char>(utf8[i + k]);
    if (!IsContinuation(byte)) return false;
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || IsSurrogate(code)) return false;
  i += length;
  return true;
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

bool IsStrictUtf8(std::string_view utf8) {
  size_t i = 0;
  char32_t code = 0;
  while (i < utf8.size()) {
    if (!DecodeOne(utf8, i, code)) return false;
  }
  return true;
}

bool Utf8ToWide(std::string_view utf8, std::u16string& wide) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t code = 0;
    if (!DecodeOne(utf8, i, code)) {
      wide.clear();
      return false;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  wide = std::move(out);
  return true;
}

bool WideToUtf8(std::u16string_view wide, std::string& utf8) {
  std::string out;
  // Room for the longest result (3 bytes per unit) at once: the text never
  // moves while it grows, so no copy of it (a password, say) is left behind
  // in freed memory.
  out.reserve(wide.size() * 3);
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) {
        utf8.clear();
        return false;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      utf8.clear();
      return false;
    }
    AppendUtf8(code, out);
  }
  utf8 = std::move(out);
  return true;
}

}  // namespace vorneth
