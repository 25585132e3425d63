#include "json/json_conversions.h"

#include <json/reader.h>

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

bool ReadText(const Json::Value& value, std::string& out) {
  switch (value.type()) {
    case Json::nullValue: out.clear(); return true;
    case Json::booleanValue: out = value.asBool() ? "true" : "false"; return true;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      value.getString(&begin, &end);
      out.assign(begin, end);
      return true;
    }
    default: return false;
  }
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
