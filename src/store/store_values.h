// Type-checked access to the members of the store document.
//
// The store file may have been edited by hand, so no member is trusted to
// have its expected JSON type. Reads treat a member of the wrong type as
// absent; changes replace such a member with a proper value. Nothing here
// throws on a wrong type, and nothing adds a member except ListForChange.
#ifndef VORNETH_STORE_STORE_VALUES_H_
#define VORNETH_STORE_STORE_VALUES_H_

#include <json/value.h>

#include <string>
#include <string_view>

namespace vorneth::store {

// True when `value` is a string whose bytes equal `text` exactly (case and
// embedded NULs included). Values of any other type equal no text.
bool IsText(const Json::Value& value, std::string_view text);

// The bytes of a string value; the empty text for any other type.
std::string TextOf(const Json::Value& value);

// Member `name` of `object` when it is an array; otherwise (absent, null,
// another type, or `object` not an object) a null value, which iterates as
// an empty list.
const Json::Value& ListMember(const Json::Value& object, const std::string& name);

// Member `name` of `object` for changing: the member is added as null when
// absent, and replaced by null when it is neither null nor an array, so the
// result is always null or an array (appending to null makes it an array).
// `object` must be null or an object; null becomes an object.
Json::Value& ListForChange(Json::Value& object, const std::string& name);

}  // namespace vorneth::store

#endif  // VORNETH_STORE_STORE_VALUES_H_
