#include "json/parse_cost.h"

#include <cstring>

namespace vorneth {

namespace {

// The end of the string whose opening quote is at `at`: its closing quote,
// or `end` when it has none. Escapes are stepped over.
const char* SkipString(const char* at, const char* end) {
  for (++at; at < end; ++at) {
    const void* stop = std::memchr(at, '"', static_cast<size_t>(end - at));
    if (stop == nullptr) return end;
    // The quote ends the string unless an odd run of backslashes escapes it.
    const char* quote = static_cast<const char*>(stop);
    const char* run = quote;
    while (run > at && run[-1] == '\\') --run;
    at = quote;
    if ((quote - run) % 2 == 0) return quote;
  }
  return end;
}

// The end of the comment that starts at `at` ("//" to the line's end, "/*"
// to "*/"); `at` itself when no comment starts there.
const char* SkipComment(const char* at, const char* end) {
  if (end - at < 2 || at[0] != '/') return at;
  if (at[1] == '/') {
    const void* line = std::memchr(at, '\n', static_cast<size_t>(end - at));
    return line != nullptr ? static_cast<const char*>(line) : end;
  }
  if (at[1] != '*') return at;
  for (const char* star = at + 2; star + 1 < end; ++star) {
    if (star[0] == '*' && star[1] == '/') return star + 1;
  }
  return end;
}

}  // namespace

size_t JsonValueCountBound(std::string_view text) {
  const char* const end = text.data() + text.size();
  size_t count = 1;  // the root
  for (const char* at = text.data(); at < end; ++at) {
    switch (*at) {
      case '"':
        at = SkipString(at, end);
        break;
      case '/': {
        // Json::Reader takes a comment, and the token after it, for the
        // comma between two members of an object.
        const char* const comment = SkipComment(at, end);
        if (comment != at) ++count;
        at = comment;
        break;
      }
      case '[':
      case '{':
      case ',':
        ++count;
        break;
      default:
        break;
    }
  }
  return count;
}

}  // namespace vorneth
