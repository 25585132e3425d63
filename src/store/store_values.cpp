#include "store/store_values.h"

namespace vorneth::store {

bool IsText(const Json::Value& value, std::string_view text) {
  if (!value.isString()) return false;
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  return std::string_view(begin, static_cast<size_t>(end - begin)) == text;
}

std::string TextOf(const Json::Value& value) {
  if (!value.isString()) return std::string();
  const char* begin = nullptr;
  const char* end = nullptr;
  value.getString(&begin, &end);
  return std::string(begin, end);
}

const Json::Value& ListMember(const Json::Value& object, const std::string& name) {
  static const Json::Value kNull;
  if (!object.isObject()) return kNull;
  const Json::Value* member = object.find(name.data(), name.data() + name.size());
  return member != nullptr && member->isArray() ? *member : kNull;
}

Json::Value& ListForChange(Json::Value& object, const std::string& name) {
  Json::Value& member = object[name];
  if (!member.isNull() && !member.isArray()) member = Json::Value();
  return member;
}

}  // namespace vorneth::store
