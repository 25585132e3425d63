// The host's one way of turning a JSON value into text.
//
// The output is compact: no line break, no indentation, no final line feed.
// Object members come in ascending byte order of their names; reals are
// printed with "%.16g" whatever the process locale; strings escape only the
// double quote, the backslash and the bytes \b \f \n \r \t, every other byte
// (control bytes and bytes >= 0x80 included) is written unchanged.
// An array separates its elements with ", " unless it has 25 elements or
// more, holds a non-empty array or object, or 2 + 2 * size + the lengths of
// its element texts reaches the right margin 74; then it uses ",".
//
// The exact text matters: frame lengths, the padding rule, the store file
// and signed checksum texts are all computed on it.
#ifndef VORNETH_JSON_STYLED_WRITER_H_
#define VORNETH_JSON_STYLED_WRITER_H_

#include <json/value.h>

#include <string>

namespace vorneth {

class StyledWriter {
 public:
  static constexpr size_t kRightMargin = 74;

  std::string write(const Json::Value& root) const;
};

}  // namespace vorneth

#endif  // VORNETH_JSON_STYLED_WRITER_H_
