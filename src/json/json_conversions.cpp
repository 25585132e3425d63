#include "json/json_conversions.h"

#include <json/reader.h>

#include <algorithm>
#include <exception>

namespace vorneth {

bool ParseJson(std::string_view text, Json::Value& out) {
  out = Json::Value();
  try {
    Json::Reader reader;
    return reader.parse(text.data(), text.data() + text.size(), out, /*collectComments=*/false);
  } catch (const std::exception&) {
    out = Json::Value();
    return false;
  }
}

namespace {

// Where a text must stop so that no array or object in it opens deeper than
// `limit` levels: the offset of the first bracket that would, or the whole
// size. Strings and comments are skipped as the reader skips them.
size_t DepthCut(std::string_view text, int limit) {
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
      }
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = std::min(text.find('\n', i), text.size());
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return text.size();
}

}  // namespace

bool ParseJsonUpToDamage(std::string_view text, Json::Value& out) {
  const size_t cut = DepthCut(text, kMaxJsonDepth);
  return ParseJson(text.substr(0, cut), out) && cut == text.size();
}

bool IsString(const Json::Value& value, std::string_view text) {
  if (!value.isString()) return false;
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  return std::string_view(begin, static_cast<size_t>(end - begin)) == text;
}

const Json::Value& ArrayMember(const Json::Value& value, const char* name) {
  static const Json::Value kNull;
  const Json::Value& member = Member(value, name);
  return member.isArray() ? member : kNull;
}

bool ReadTextView(const Json::Value& value, std::string_view& out) {
  switch (value.type()) {
    case Json::nullValue:
      out = "";
      return true;
    case Json::booleanValue:
      out = value.asBool() ? "true" : "false";
      return true;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      out = std::string_view(begin, static_cast<size_t>(end - begin));
      return true;
    }
    default:
      return false;
  }
}

bool ReadText(const Json::Value& value, std::string& out) {
  std::string_view text;
  if (!ReadTextView(value, text)) return false;
  out.assign(text);
  return true;
}

bool ReadInt(const Json::Value& value, int32_t& out) {
  if (!value.isConvertibleTo(Json::intValue) || value.isString()) return false;
  out = value.asInt();
  return true;
}

const Json::Value& Element(const Json::Value& value, Json::ArrayIndex index) {
  static const Json::Value kNull;
  if (!value.isArray() || index >= value.size()) return kNull;
  return value[index];
}

const Json::Value& Member(const Json::Value& value, const char* name) {
  static const Json::Value kNull;
  if (!value.isObject()) return kNull;
  const Json::Value* member = value.find(name, name + std::char_traits<char>::length(name));
  return member != nullptr ? *member : kNull;
}

}  // namespace vorneth
