#include "trace_line.h"

#include <cstdio>

namespace quenlog {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence of a code point above U+007F that
// starts at text[i], or 0 when the bytes there are not one (a stray
// continuation byte, a bad lead byte, a cut sequence).
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void AppendEscapedByte(unsigned char byte, std::string& out) {
  switch (byte) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '"':
      out += "\\\"";
      return;
    default:
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
  }
}

// Escapes the first `limit` bytes of `text` (a UTF-8 sequence that crosses
// the limit is cut before it) into `out`; true when all of `text` fit.
bool AppendEscaped(std::string_view text, size_t limit, std::string& out) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      if (length > 0) {
        if (i + length > limit) return false;
        out.append(text.substr(i, length));
        i += length;
        continue;
      }
    }
    if (i + 1 > limit) return false;
    if (byte < 0x20 || byte == 0x7F || byte >= 0x80 || byte == '\\' || byte == '"') {
      AppendEscapedByte(byte, out);
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return true;
}

std::string Name(const char* name) {
  return name != nullptr ? PlainText(name) : std::string("(unnamed)");
}

}  // namespace

std::string LinePrefix(const LineOrigin& origin, std::string_view scope) {
  using namespace std::chrono;
  const auto day = floor<days>(origin.m_time);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{floor<milliseconds>(origin.m_time - day)};
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02u %02d:%02d:%02d.%03dZ p%llu t%llu ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()),
                static_cast<unsigned long long>(origin.m_process), static_cast<unsigned long long>(origin.m_thread));
  std::string prefix = stamp;
  prefix += scope.empty() ? std::string("(no scope)") : PlainText(scope, 2 * kMaxNameBytes);
  prefix += ' ';
  return prefix;
}

std::string QuotedText(std::string_view text, size_t limit) {
  std::string out = "\"";
  const bool whole = AppendEscaped(text, limit, out);
  out += '"';
  if (!whole) out += "...[cut, " + std::to_string(text.size()) + " bytes]";
  return out;
}

std::string PlainText(std::string_view text, size_t limit) {
  std::string out;
  if (!AppendEscaped(text, limit, out)) out += "...";
  return out;
}

std::string BufferEvent(const char* name, uint32_t type, const void* data, uint32_t count, bool show_data) {
  std::string event = Name(name) + " = ";
  if (data == nullptr) return event + "(null)";
  const std::string_view bytes(static_cast<const char*>(data), count);
  if (type == kTypeText || (type == kTypeDataText && show_data)) return event + QuotedText(bytes);
  const char* what = type == kTypeDataText ? "data text" : "buffer";
  event += "<" + std::string(what) + ", " + std::to_string(count) + " bytes";
  if (type != kTypeDataText) event += ", type " + std::to_string(type);
  return event + ">";
}

std::string NumberEvent(const char* name, uint32_t type, int32_t value) {
  std::string event = Name(name) + " = ";
  if (type == kTypePointer) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(static_cast<uint32_t>(value)));
    return event + hex;
  }
  event += std::to_string(value);
  if (type != kTypeNumber) event += " (type " + std::to_string(type) + ")";
  return event;
}

std::string MessageEvent(const char* message) {
  return "message " + (message != nullptr ? QuotedText(message) : std::string("(null)"));
}

}  // namespace quenlog
