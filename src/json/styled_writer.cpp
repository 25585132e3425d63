#include "json/styled_writer.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace vorneth {
namespace {

// The escape of a byte that is not written as itself, or null.
const char* ShortEscape(char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

void AppendReal(std::string& out, double value) {
  // to_chars with a precision behaves as printf("%.16g") in the "C" locale.
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
  out.append(buffer, result.ptr);
}

// One write: the options, and whether a real was met.
class ValueWriter {
 public:
  explicit ValueWriter(const StyledWriter& writer) : m_writer(writer) {}

  void Value(std::string& out, const Json::Value& value);
  bool wroteReal() const { return m_wroteReal; }

 private:
  bool UsesLongForm(const Json::Value& array, std::vector<std::string>& elementTexts);
  void Array(std::string& out, const Json::Value& array);
  void Object(std::string& out, const Json::Value& object);
  void String(std::string& out, const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    m_writer.AppendString(out, std::string_view(begin, static_cast<size_t>(end - begin)));
  }

  const StyledWriter& m_writer;
  bool m_wroteReal = false;
};

bool ValueWriter::UsesLongForm(const Json::Value& array, std::vector<std::string>& elementTexts) {
  const Json::ArrayIndex size = array.size();
  // Element texts are written only when the rule needs their length.
  if (StyledWriter::ArrayUsesLongForm(size, 0, false)) return true;
  for (const Json::Value& element : array) {
    if ((element.isArray() || element.isObject()) && !element.empty()) return true;
    // A string this long is written at least this long: the rule holds
    // without writing a copy of it (it may be as large as a request).
    if (element.isString()) {
      const char* begin = nullptr;
      const char* end = nullptr;
      element.getString(&begin, &end);
      if (static_cast<size_t>(end - begin) >= StyledWriter::kRightMargin) return true;
    }
  }
  size_t textLength = 0;
  elementTexts.reserve(size);
  for (const Json::Value& element : array) {
    std::string text;
    Value(text, element);
    textLength += text.size();
    elementTexts.push_back(std::move(text));
  }
  return StyledWriter::ArrayUsesLongForm(size, textLength, false);
}

void ValueWriter::Array(std::string& out, const Json::Value& array) {
  if (array.empty()) {
    out += "[]";
    return;
  }
  std::vector<std::string> elementTexts;
  const bool longForm = UsesLongForm(array, elementTexts);
  const char* separator = longForm ? "," : ", ";
  out += '[';
  if (elementTexts.size() == array.size()) {
    for (size_t i = 0; i < elementTexts.size(); ++i) {
      if (i != 0) out += separator;
      out += elementTexts[i];
    }
  } else {
    bool first = true;
    for (const Json::Value& element : array) {
      if (!first) out += separator;
      first = false;
      Value(out, element);
    }
  }
  out += ']';
}

void ValueWriter::Object(std::string& out, const Json::Value& object) {
  std::vector<std::string> names = object.getMemberNames();
  if (names.empty()) {
    out += "{}";
    return;
  }
  std::sort(names.begin(), names.end());
  out += '{';
  bool first = true;
  for (const std::string& name : names) {
    if (!first) out += ',';
    first = false;
    m_writer.AppendString(out, name);
    out += ':';
    Value(out, object[name]);
  }
  out += '}';
}

void ValueWriter::Value(std::string& out, const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      out += "null";
      break;
    case Json::intValue:
      out += std::to_string(value.asLargestInt());
      break;
    case Json::uintValue:
      out += std::to_string(value.asLargestUInt());
      break;
    case Json::realValue:
      m_wroteReal = true;
      AppendReal(out, value.asDouble());
      break;
    case Json::stringValue:
      String(out, value);
      break;
    case Json::booleanValue:
      out += value.asBool() ? "true" : "false";
      break;
    case Json::arrayValue:
      Array(out, value);
      break;
    case Json::objectValue:
      Object(out, value);
      break;
  }
}

}  // namespace

namespace {

// Texts from this size on are large: what is appended after one (the rest
// of a message's members) is given room beside it at once. Without it the
// next small append would move the text into a buffer twice its size,
// both alive while it is copied.
constexpr size_t kLargeText = size_t{64} * 1024;
constexpr size_t kRoomAfterLargeText = size_t{64} * 1024;

void ReserveFor(std::string& out, size_t size) {
  if (size <= out.capacity()) return;
  out.reserve(size >= kLargeText ? size + kRoomAfterLargeText : size);
}

}  // namespace

void StyledWriter::AppendString(std::string& out, std::string_view text) const {
  static constexpr char kHex[] = "0123456789abcdef";
  const bool escapeControl = m_controlBytes == ControlBytes::kEscaped;
  const char* const end = text.data() + text.size();
  // Most texts need no escape at all: found by one scan, copied in one go.
  const char* p = std::find_if(text.data(), end, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == '"' || byte == '\\';
  });
  if (p == end) {
    AppendPieces(out, {"\"", text, "\""});
    return;
  }
  ReserveFor(out, out.size() + text.size() + 2);
  out += '"';
  const char* plain = text.data();  // start of the bytes not yet copied
  for (; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
    const char* escape = ShortEscape(*p);
    if (escape == nullptr && !escapeControl) continue;
    out.append(plain, p);
    plain = p + 1;
    if (escape != nullptr) {
      out += escape;
    } else {
      const char unicode[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
      out.append(unicode, sizeof unicode);
    }
  }
  out.append(plain, end);
  out += '"';
}

void AppendPieces(std::string& out, std::initializer_list<std::string_view> pieces) {
  // Room for all of them first: a large piece followed by a small one would
  // otherwise move the text to twice its size.
  size_t size = out.size();
  for (std::string_view piece : pieces) size += piece.size();
  ReserveFor(out, size);
  for (std::string_view piece : pieces) out.append(piece.data(), piece.size());
}

bool StyledWriter::Append(std::string& out, const Json::Value& value) const {
  ValueWriter writer(*this);
  writer.Value(out, value);
  return !writer.wroteReal();
}

std::string StyledWriter::write(const Json::Value& root) const {
  std::string out;
  Append(out, root);
  return out;
}

}  // namespace vorneth
