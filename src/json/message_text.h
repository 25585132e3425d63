// A message on its way to the browser: its text, and where its top-level
// members begin, so that members can be added to it later without parsing
// it again.
//
// MessageWriter writes a message as StyledWriter writes the same object,
// member by member, and records that layout. A MessageText made from a plain
// text has no layout: whoever adds a member to it must parse it again.
// A layout is recorded only when adding a member by it gives exactly the
// text that parsing, adding and writing again would give: the object holds
// no real number (its "%.16g" form need not read back to the same number),
// no member name that needs an escape, and at most kMaxMembers members.
//
// Thread safety: none; a message belongs to one thread at a time.
#ifndef VORNETH_JSON_MESSAGE_TEXT_H_
#define VORNETH_JSON_MESSAGE_TEXT_H_

#include <json/value.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/styled_writer.h"

namespace vorneth {

class MessageText {
 public:
  static constexpr size_t kMaxMembers = 8;

  MessageText() = default;
  // A text without a layout.
  MessageText(std::string text) : m_text(std::move(text)) {}  // NOLINT(google-explicit-constructor)
  MessageText(const char* text) : m_text(text) {}             // NOLINT(google-explicit-constructor)

  const std::string& text() const { return m_text; }
  std::string TakeText() && { return std::move(m_text); }
  bool HasLayout() const { return m_hasLayout; }
  bool HasMember(std::string_view name) const;
  // The written value of the top-level member `name`, found by the layout
  // (a view into text(), valid until the text changes); empty when there
  // is no layout or no such member.
  std::string_view MemberText(std::string_view name) const;

  // Adds the member `name` with the value text `valueText` (already written
  // JSON) at its place in byte order of the names. False, leaving the text
  // unchanged, when there is no layout, the member exists already or the
  // layout is full.
  bool InsertMember(std::string_view name, std::string_view valueText);

 private:
  friend class MessageWriter;

  struct Member {
    uint32_t m_offset;      // of the opening quote of its name
    uint32_t m_nameLength;  // the name needs no escape: its bytes follow
  };

  // The name of member `index`, as written.
  std::string_view NameAt(size_t index) const {
    return std::string_view(m_text).substr(m_members[index].m_offset + 1, m_members[index].m_nameLength);
  }

  std::string m_text;
  bool m_hasLayout = false;
  // The members, in order.
  std::array<Member, kMaxMembers> m_members{};
  size_t m_memberCount = 0;
};

// Writes one JSON object member by member, in the form StyledWriter gives.
// Members must come in ascending byte order of their names, each name once
// (an object's own order); a member out of order drops the layout, not the
// member.
class MessageWriter {
 public:
  explicit MessageWriter(StyledWriter::ControlBytes controlBytes);

  void Text(std::string_view name, std::string_view value);
  void Number(std::string_view name, int64_t value);
  void Value(std::string_view name, const Json::Value& value);
  // A value already written by a StyledWriter with the same control-byte
  // setting; `exact` as StyledWriter::Append returned it.
  void Written(std::string_view name, std::string_view valueText, bool exact);
  // The message: the object closed.
  MessageText Finish() &&;

  // Every member of `object` in order; for a value that is no object, its
  // text without a layout.
  static MessageText Write(const Json::Value& value, StyledWriter::ControlBytes controlBytes);

 private:
  void BeginMember(std::string_view name);

  StyledWriter m_writer;
  MessageText m_message;
  // Whether the layout still holds.
  bool m_layoutHolds = true;
};

// Writes an array of scalars element by element, in the form StyledWriter
// gives the same array, without building it: what a page answer's
// "response" holds.
class ArrayWriter {
 public:
  explicit ArrayWriter(StyledWriter::ControlBytes controlBytes) : m_writer(controlBytes) {}

  void Text(std::string_view value);
  void Number(int64_t value);
  void Bool(bool value);
  size_t size() const { return m_count; }
  // The array's text.
  std::string Finish() &&;

 private:
  // An array with this many elements or more is always written in the long
  // form, so only the separators of shorter ones are remembered.
  static constexpr size_t kShortFormLimit = StyledWriter::kRightMargin / 3 + 1;

  void BeginElement();

  StyledWriter m_writer;
  // The elements so far, in the long form: "[" and the elements joined by ",".
  std::string m_text = "[";
  size_t m_count = 0;
  std::array<uint32_t, kShortFormLimit> m_separators{};
};

}  // namespace vorneth

#endif  // VORNETH_JSON_MESSAGE_TEXT_H_
