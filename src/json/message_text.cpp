#include "json/message_text.h"

#include <algorithm>

namespace vorneth {
namespace {

// A name that StyledWriter writes as it is, between quotes.
bool WrittenAsItIs(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') return false;
  }
  return true;
}

constexpr size_t kTypicalMessage = 240;

}  // namespace

bool MessageText::HasMember(std::string_view name) const {
  for (size_t i = 0; i < m_memberCount; ++i) {
    if (NameAt(i) == name) return true;
  }
  return false;
}

std::string_view MessageText::MemberText(std::string_view name) const {
  if (!m_hasLayout) return {};
  for (size_t i = 0; i < m_memberCount; ++i) {
    if (NameAt(i) != name) continue;
    const size_t begin = m_members[i].m_offset + m_members[i].m_nameLength + 3;  // the quotes and the colon
    // Up to the comma before the next member, or the closing brace.
    const size_t end = (i + 1 < m_memberCount ? m_members[i + 1].m_offset : m_text.size()) - 1;
    return std::string_view(m_text).substr(begin, end - begin);
  }
  return {};
}

bool MessageText::InsertMember(std::string_view name, std::string_view valueText) {
  if (!m_hasLayout || m_memberCount == kMaxMembers || !WrittenAsItIs(name)) return false;
  size_t index = 0;
  for (; index < m_memberCount; ++index) {
    const int order = NameAt(index).compare(name);
    if (order == 0) return false;
    if (order > 0) break;
  }
  // Before a following member the comma goes after the new one; at the end
  // of a non-empty object, before it.
  const bool last = index == m_memberCount;
  const bool commaBefore = last && m_memberCount > 0;
  const size_t size = name.size() + valueText.size() + 4;  // "name": and a comma
  const size_t at = last ? m_text.size() - 1 : m_members[index].m_offset;
  m_text.insert(at, size - (last && !commaBefore ? 1 : 0), ',');
  char* out = m_text.data() + at + (commaBefore ? 1 : 0);
  *out++ = '"';
  out = std::copy(name.begin(), name.end(), out);
  *out++ = '"';
  *out++ = ':';
  std::copy(valueText.begin(), valueText.end(), out);  // a comma after it stays from the fill

  const auto inserted = static_cast<uint32_t>(size - (last && !commaBefore ? 1 : 0));
  for (size_t i = index; i < m_memberCount; ++i) m_members[i].m_offset += inserted;
  std::copy_backward(m_members.begin() + index, m_members.begin() + m_memberCount,
                     m_members.begin() + m_memberCount + 1);
  m_members[index] = {static_cast<uint32_t>(at + (commaBefore ? 1 : 0)), static_cast<uint32_t>(name.size())};
  ++m_memberCount;
  return true;
}

MessageWriter::MessageWriter(StyledWriter::ControlBytes controlBytes) : m_writer(controlBytes) {
  // Room for a typical message and the members the output adds, so that
  // neither the writing nor the insertions move it.
  m_message.m_text.reserve(kTypicalMessage);
  m_message.m_text.push_back('{');
}

void MessageWriter::BeginMember(std::string_view name) {
  MessageText& message = m_message;
  const size_t count = message.m_memberCount;
  const bool plainName = WrittenAsItIs(name);
  const std::string_view comma = count > 0 ? "," : "";
  if (!plainName) message.m_text += comma;
  if (m_layoutHolds) {
    m_layoutHolds = plainName && count < MessageText::kMaxMembers && (count == 0 || message.NameAt(count - 1) < name) &&
                    message.m_text.size() <= UINT32_MAX;
  }
  if (m_layoutHolds) {
    const size_t quote = message.m_text.size() + (plainName ? comma.size() : 0);
    message.m_members[count] = {static_cast<uint32_t>(quote), static_cast<uint32_t>(name.size())};
  }
  // Counted whether or not the layout holds, for the commas.
  message.m_memberCount = count + 1;
  if (plainName) {
    AppendPieces(message.m_text, {comma, "\"", name, "\":"});
  } else {
    m_writer.AppendString(message.m_text, name);
    message.m_text += ':';
  }
}

void MessageWriter::Text(std::string_view name, std::string_view value) {
  BeginMember(name);
  m_writer.AppendString(m_message.m_text, value);
}

void MessageWriter::Number(std::string_view name, int64_t value) {
  BeginMember(name);
  m_message.m_text += std::to_string(value);
}

void MessageWriter::Value(std::string_view name, const Json::Value& value) {
  BeginMember(name);
  if (!m_writer.Append(m_message.m_text, value)) m_layoutHolds = false;
}

void MessageWriter::Written(std::string_view name, std::string_view valueText, bool exact) {
  BeginMember(name);
  m_message.m_text += valueText;
  if (!exact) m_layoutHolds = false;
}

void ArrayWriter::BeginElement() {
  if (m_count > 0) {
    if (m_count < kShortFormLimit) m_separators[m_count - 1] = static_cast<uint32_t>(m_text.size());
    m_text += ',';
  }
  ++m_count;
}

void ArrayWriter::Text(std::string_view value) {
  BeginElement();
  m_writer.AppendString(m_text, value);
}

void ArrayWriter::Number(int64_t value) {
  BeginElement();
  m_text += std::to_string(value);
}

void ArrayWriter::Bool(bool value) {
  BeginElement();
  m_text += value ? "true" : "false";
}

std::string ArrayWriter::Finish() && {
  if (m_count == 0) return "[]";
  const size_t textLength = m_text.size() - 1 - (m_count - 1);
  if (StyledWriter::ArrayUsesLongForm(m_count, textLength, false)) return std::move(m_text) + ']';
  std::string text;
  text.reserve(m_text.size() + m_count + 1);
  size_t from = 0;
  for (size_t i = 0; i + 1 < m_count; ++i) {
    const size_t separator = m_separators[i];
    text.append(m_text, from, separator + 1 - from);
    text += ' ';
    from = separator + 1;
  }
  text.append(m_text, from, std::string::npos);
  text += ']';
  return text;
}

MessageText MessageWriter::Finish() && {
  m_message.m_text += '}';
  m_message.m_hasLayout = m_layoutHolds;
  if (!m_layoutHolds) m_message.m_memberCount = 0;
  return std::move(m_message);
}

MessageText MessageWriter::Write(const Json::Value& value, StyledWriter::ControlBytes controlBytes) {
  if (!value.isObject()) return StyledWriter(controlBytes).write(value);
  std::vector<std::string> names = value.getMemberNames();
  std::sort(names.begin(), names.end());
  MessageWriter writer(controlBytes);
  for (const std::string& name : names) writer.Value(name, value[name]);
  return std::move(writer).Finish();
}

}  // namespace vorneth
