// The little JSON the example add-on needs, without a JSON library: reading
// a few members of the page's parameters and writing answers.
//
// Parameters arrive as the page sent them, so anything may come: another
// type, a missing member, broken text. The readers give nullopt for all of
// that and never read beyond the text. The outermost object must be whole;
// the values nested in it are only stepped over (strings, brackets). The
// readers look only at its members: a member of the same name inside a
// nested value or a string does not count. Duplicate names: the first one
// counts.
//
// Nothing here keeps state; every function is safe from any thread.
#ifndef VORNETH_EXAMPLE_JSON_FIELDS_H_
#define VORNETH_EXAMPLE_JSON_FIELDS_H_

#include <optional>
#include <string>
#include <string_view>

namespace example {

// The number of member `name` of the object `json`; nullopt when there is
// no such member or it is no finite number.
std::optional<double> ReadNumber(std::string_view json, std::string_view name);

// The text of string member `name`, escapes decoded (\uXXXX to UTF-8,
// surrogate pairs joined); nullopt when there is no such member, it is no
// string, or an escape is broken.
std::optional<std::string> ReadString(std::string_view json, std::string_view name);

// `text` as a JSON string, quotes included, appended to `out`.
void AppendString(std::string& out, std::string_view text);

// `value` as a JSON number (the shortest text that reads back the same).
std::string NumberText(double value);

}  // namespace example

#endif  // VORNETH_EXAMPLE_JSON_FIELDS_H_
