#include "json/styled_writer.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace vorneth {
namespace {

void AppendString(std::string& out, const Json::Value& value) {
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  out += '"';
  for (const char* p = begin; p != end; ++p) {
    switch (*p) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += *p;
        break;
    }
  }
  out += '"';
}

void AppendReal(std::string& out, double value) {
  // to_chars with a precision behaves as printf("%.16g") in the "C" locale.
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
  out.append(buffer, result.ptr);
}

void AppendValue(std::string& out, const Json::Value& value);

bool UsesLongForm(const Json::Value& array, std::vector<std::string>& elementTexts) {
  const Json::ArrayIndex size = array.size();
  if (size_t{size} * 3 >= StyledWriter::kRightMargin) return true;
  for (const Json::Value& element : array) {
    if ((element.isArray() || element.isObject()) && !element.empty()) return true;
  }
  size_t lineLength = 2 + 2 * static_cast<size_t>(size);
  elementTexts.reserve(size);
  for (const Json::Value& element : array) {
    std::string text;
    AppendValue(text, element);
    lineLength += text.size();
    elementTexts.push_back(std::move(text));
  }
  return lineLength >= StyledWriter::kRightMargin;
}

void AppendArray(std::string& out, const Json::Value& array) {
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
      AppendValue(out, element);
    }
  }
  out += ']';
}

void AppendObject(std::string& out, const Json::Value& object) {
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
    AppendString(out, Json::Value(name));
    out += ':';
    AppendValue(out, object[name]);
  }
  out += '}';
}

void AppendValue(std::string& out, const Json::Value& value) {
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
      AppendReal(out, value.asDouble());
      break;
    case Json::stringValue:
      AppendString(out, value);
      break;
    case Json::booleanValue:
      out += value.asBool() ? "true" : "false";
      break;
    case Json::arrayValue:
      AppendArray(out, value);
      break;
    case Json::objectValue:
      AppendObject(out, value);
      break;
  }
}

}  // namespace

std::string StyledWriter::write(const Json::Value& root) const {
  std::string out;
  AppendValue(out, root);
  return out;
}

}  // namespace vorneth
