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

// Like ParseJson, but a text nested deeper than the reader allows does not
// lose everything: it is read up to the first array or object that would
// open too deep (kMaxJsonDepth levels), as if the text ended there, so `out`
// holds what came before that damage. For files, where what was read must
// survive; requests keep ParseJson, which drops a too-deep text whole.
inline constexpr int kMaxJsonDepth = 500;
bool ParseJsonUpToDamage(std::string_view text, Json::Value& out);

// A value read as text: a string as it is, null as "", a boolean as "true"
// or "false". Numbers, arrays and objects are refused (false, `out` left
// unchanged).
bool ReadText(const Json::Value& value, std::string& out);
// The same without a copy: `out` views the string's bytes inside `value`
// (or a literal), valid while `value` lives unchanged.
bool ReadTextView(const Json::Value& value, std::string_view& out);

// True when `value` is a string whose bytes equal `text` exactly (case and
// embedded NULs included). Values of any other type equal no text, unlike
// ReadText, which reads null and booleans as texts.
bool IsString(const Json::Value& value, std::string_view text);

// A value read as a 32-bit signed integer: a number in range (reals are
// truncated), a boolean as 0 or 1, null as 0. Anything else is refused.
bool ReadInt(const Json::Value& value, int32_t& out);

// Element `index` of an array; null when `value` is not an array or is too
// short. Never adds anything to `value`.
const Json::Value& Element(const Json::Value& value, Json::ArrayIndex index);

// Member `name` of an object; null when `value` is not an object or lacks
// the member. Never adds anything to `value`.
const Json::Value& Member(const Json::Value& value, const char* name);

// Member `name` of an object when it is an array; null otherwise (absent,
// another type, or `value` not an object), which iterates as an empty list.
const Json::Value& ArrayMember(const Json::Value& value, const char* name);

}  // namespace vorneth

#endif  // VORNETH_JSON_JSON_CONVERSIONS_H_
