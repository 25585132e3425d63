#include "json_fields.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace example {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Ends a number, true, false or null.
bool EndsScalar(char c) {
  return IsBlank(c) || c == ',' || c == ':' || c == '{' || c == '}' || c == '[' || c == ']' || c == '"';
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A cursor over a JSON text; every read checks the end first, so broken or
// cut-off text only makes a read fail.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : m_text(text) {}

  size_t at() const { return m_at; }
  bool AtEnd() {
    SkipBlanks();
    return m_at == m_text.size();
  }
  // Takes `c` after blanks; false (nothing taken) when another byte is next.
  bool Take(char c) {
    SkipBlanks();
    if (m_at == m_text.size() || m_text[m_at] != c) return false;
    ++m_at;
    return true;
  }

  // The string next, decoded; nullopt when there is none or it is broken.
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (m_at < m_text.size()) {
      const char c = m_text[m_at++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;  // raw control bytes are not allowed
      if (c != '\\') {
        out += c;
      } else if (!Escape(out)) {
        return std::nullopt;
      }
    }
    return std::nullopt;  // no closing quote
  }

  // Steps over the value next, nested ones included (without recursion, so
  // deep nesting cannot exhaust the stack). False when there is none.
  bool SkipValue() {
    int depth = 0;
    do {
      SkipBlanks();
      if (m_at == m_text.size()) return false;
      const char c = m_text[m_at];
      if (c == '"') {
        if (!String()) return false;
      } else if (c == '{' || c == '[') {
        ++depth;
        ++m_at;
      } else if (c == '}' || c == ']' || c == ',' || c == ':') {
        if (depth == 0) return false;
        if (c == '}' || c == ']') --depth;
        ++m_at;
      } else {
        const size_t start = m_at;
        while (m_at < m_text.size() && !EndsScalar(m_text[m_at])) ++m_at;
        if (m_at == start) return false;
      }
    } while (depth > 0);
    return true;
  }

 private:
  void SkipBlanks() {
    while (m_at < m_text.size() && IsBlank(m_text[m_at])) ++m_at;
  }

  // The escape after a backslash, decoded onto `out`.
  bool Escape(std::string& out) {
    if (m_at == m_text.size()) return false;
    const char c = m_text[m_at++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return Unicode(out);
      default:
        return false;
    }
  }

  // \uXXXX, or a surrogate pair of them, as UTF-8. A lone surrogate fails.
  bool Unicode(std::string& out) {
    uint32_t code = 0;
    if (!Hex4(code) || (code >= 0xDC00 && code < 0xE000)) return false;
    if (code >= 0xD800 && code < 0xDC00) {
      uint32_t low = 0;
      if (m_text.substr(m_at, 2) != "\\u") return false;
      m_at += 2;
      if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, code);
    return true;
  }

  bool Hex4(uint32_t& value) {
    if (m_text.size() - m_at < 4) return false;
    const char* first = m_text.data() + m_at;
    const auto [end, error] = std::from_chars(first, first + 4, value, 16);
    if (error != std::errc() || end != first + 4) return false;
    m_at += 4;
    return true;
  }

  std::string_view m_text;
  size_t m_at = 0;
};

// The text of the value of member `name` of the outermost object.
std::optional<std::string_view> MemberValue(std::string_view json, std::string_view name) {
  Scanner scanner(json);
  if (!scanner.Take('{') || scanner.Take('}')) return std::nullopt;
  std::optional<std::string_view> found;
  do {
    const std::optional<std::string> key = scanner.String();
    if (!key || !scanner.Take(':')) return std::nullopt;
    scanner.AtEnd();  // steps over the blanks before the value
    const size_t start = scanner.at();
    if (!scanner.SkipValue()) return std::nullopt;
    if (!found && *key == name) found = json.substr(start, scanner.at() - start);
  } while (scanner.Take(','));
  // The object must be whole: a text cut off after the member is refused.
  if (!scanner.Take('}') || !scanner.AtEnd()) return std::nullopt;
  return found;
}

}  // namespace

std::optional<double> ReadNumber(std::string_view json, std::string_view name) {
  const std::optional<std::string_view> value = MemberValue(json, name);
  if (!value || value->empty()) return std::nullopt;
  double number = 0;
  const char* end = value->data() + value->size();
  const auto [stop, error] = std::from_chars(value->data(), end, number);
  if (error != std::errc() || stop != end || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<std::string> ReadString(std::string_view json, std::string_view name) {
  const std::optional<std::string_view> value = MemberValue(json, name);
  if (!value) return std::nullopt;
  Scanner scanner(*value);
  std::optional<std::string> text = scanner.String();
  return text && scanner.AtEnd() ? text : std::nullopt;
}

void AppendString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;  // UTF-8 passes through as it is
    }
  }
  out += '"';
}

std::string NumberText(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "null";
}

}  // namespace example
