// The host's one way of turning a JSON value into text.
//
// The output is compact: no line break, no indentation, no final line feed.
// Object members come in ascending byte order of their names; reals are
// printed with "%.16g" whatever the process locale; strings escape the
// double quote, the backslash and the bytes \b \f \n \r \t; every other byte
// (bytes >= 0x80 included) is written unchanged, and so are the other
// control bytes unless the writer escapes them (ControlBytes::kEscaped:
// "\u00XX" with lower-case hex digits).
// An array separates its elements with ", " unless it has 25 elements or
// more, holds a non-empty array or object, or 2 + 2 * size + the lengths of
// its element texts reaches the right margin 74; then it uses ",".
//
// The exact text matters: frame lengths, the padding rule, the store file
// and signed checksum texts are all computed on it. Stored and signed texts
// keep control bytes raw, as they always were; texts sent to the browser
// escape them, because the browser drops a message that holds one raw.
#ifndef VORNETH_JSON_STYLED_WRITER_H_
#define VORNETH_JSON_STYLED_WRITER_H_

#include <json/value.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace vorneth {

class StyledWriter {
 public:
  enum class ControlBytes { kRaw, kEscaped };
  static constexpr size_t kRightMargin = 74;

  explicit StyledWriter(ControlBytes controlBytes = ControlBytes::kRaw) : m_controlBytes(controlBytes) {}

  std::string write(const Json::Value& root) const;

  // Appends the text of `value` to `out`. Returns whether reading that text
  // back and writing it again is sure to give the same text: false when it
  // holds a real, whose "%.16g" form need not read back to the same number.
  bool Append(std::string& out, const Json::Value& value) const;
  // Appends `text` as a quoted JSON string.
  void AppendString(std::string& out, std::string_view text) const;

  // The array rule: whether an array of `count` elements whose texts are
  // `textLength` bytes long together, holding a non-empty array or object
  // or not, separates its elements with "," rather than ", ".
  static bool ArrayUsesLongForm(size_t count, size_t textLength, bool holdsContainer) {
    return count * 3 >= kRightMargin || holdsContainer || 2 + 2 * count + textLength >= kRightMargin;
  }

 private:
  ControlBytes m_controlBytes;
};

// Appends the pieces to `out`, growing it once (with room for a few small
// appends after them when they make it large).
void AppendPieces(std::string& out, std::initializer_list<std::string_view> pieces);

}  // namespace vorneth

#endif  // VORNETH_JSON_STYLED_WRITER_H_
