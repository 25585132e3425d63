// Parsing and type-checked reading of JSON values.
//
// JsonCpp throws on nesting deeper than 1,000 levels and on conversions of
// the wrong type (an object to a text, a string to an integer...). Requests,
// store files and manifests come from outside, so every read of such a value
// goes through these functions, which never throw.
#ifndef VORNETH_JSON_JSON_CONVERSIONS_H_
#define VORNETH_JSON_JSON_CONVERSIONS_H_

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vorneth {

// Parses `text` with Json::Reader, dropping comments. `out` holds whatever
// the reader built, even when the text is not valid JSON (members read
// before the damage stay); null when the reader gave up by throwing.
// Returns true when the whole text parsed.
bool ParseJson(std::string_view text, Json::Value& out);

// A value read as text: a string as it is, null as "", a boolean as "true"
// or "false". Numbers, arrays and objects are refused (false, `out` left
// unchanged).
bool ReadText(const Json::Value& value, std::string& out);

// A value read as a 32-bit signed integer: a number in range (reals are
// truncated), a boolean as 0 or 1, null as 0. Anything else is refused.
bool ReadInt(const Json::Value& value, int32_t& out);

// Element `index` of an array; null when `value` is not an array or is too
// short. Never adds anything to `value`.
const Json::Value& Element(const Json::Value& value, Json::ArrayIndex index);

// Member `name` of an object; null when `value` is not an object or lacks
// the member. Never adds anything to `value`.
const Json::Value& Member(const Json::Value& value, const char* name);

}  // namespace vorneth

#endif  // VORNETH_JSON_JSON_CONVERSIONS_H_
