// What a JSON text would cost once parsed, judged without parsing it.
//
// JsonValueCountBound counts, in one pass over the text, an upper bound of
// the values that Json::Reader (or the subset reader, which builds the same
// values) makes of it: every array and object, every element and member.
// Each opening bracket starts a value and each comma one more, and so does
// each comment (the reader lets a comment and the token after it separate
// two members of an object); bytes inside strings and comments (which the
// reader skips without building anything) are not counted. A text that is no JSON at all is counted the same way:
// the reader builds no more than the count before it gives up.
//
// kParsedValueBytes is what one such value takes at most in memory, beyond
// the bytes of its string (a string value holds a copy of at most its own
// text's bytes): the value itself and the node of its array or object.
// Together they bound the parsed form: kParsedValueBytes per counted value
// plus the text's own size.
//
// No state; any thread may call these.
#ifndef VORNETH_JSON_PARSE_COST_H_
#define VORNETH_JSON_PARSE_COST_H_

#include <cstddef>
#include <string_view>

namespace vorneth {

// A Json::Value (40 bytes on 64-bit systems) in a map node of its array or
// object (the node's links, its key), as the allocator rounds them up.
inline constexpr size_t kParsedValueBytes = 128;

// At least the number of values a reader builds from `text`.
size_t JsonValueCountBound(std::string_view text);

}  // namespace vorneth

#endif  // VORNETH_JSON_PARSE_COST_H_
