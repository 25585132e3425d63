#include "json/json_subset_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>

namespace vorneth {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The first '"' or '\\' in [at, end), or end. Eight bytes at a time: a byte
// of the word equals c exactly when that byte of (word ^ c...c) is zero, and
// (x - 0x01..01) & ~x & 0x80..80 is non-zero exactly when some byte of x is.
const char* FindQuoteOrBackslash(const char* at, const char* end) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  constexpr uint64_t kQuotes = kOnes * '"';
  constexpr uint64_t kBackslashes = kOnes * '\\';
  while (end - at >= 8) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    const uint64_t quotes = word ^ kQuotes;
    const uint64_t backslashes = word ^ kBackslashes;
    if ((((quotes - kOnes) & ~quotes) | ((backslashes - kOnes) & ~backslashes)) & kHighs) break;
    at += 8;
  }
  while (at != end && *at != '"' && *at != '\\') ++at;
  return at;
}

SubsetKind KindOf(char first) {
  switch (first) {
    case 'n':
      return SubsetKind::kNull;
    case 't':
      return SubsetKind::kTrue;
    case 'f':
      return SubsetKind::kFalse;
    case '"':
      return SubsetKind::kString;
    case '[':
      return SubsetKind::kArray;
    case '{':
      return SubsetKind::kObject;
    default:
      return first == '-' || IsDigit(first) ? SubsetKind::kInteger : SubsetKind::kOther;
  }
}

}  // namespace

// One pass over the text. Every Read* function starts at the first byte of
// its token, returns false as soon as the text leaves the subset, and
// otherwise leaves m_at just after the token. A null `out` checks a value
// without building it.
class SubsetScanner {
 public:
  explicit SubsetScanner(std::string_view text) : m_begin(text.data()), m_at(m_begin), m_end(m_begin + text.size()) {}

  void SkipSpaces() {
    while (m_at != m_end && IsSpace(*m_at)) ++m_at;
  }
  bool AtEnd() const { return m_at == m_end; }
  SubsetKind Kind() const { return m_at == m_end ? SubsetKind::kOther : KindOf(*m_at); }

  bool ReadString(std::string_view& out) {
    const char* const first = m_at + 1;
    const char* const stop = FindQuoteOrBackslash(first, m_end);
    if (stop == m_end || *stop != '"') return false;
    out = std::string_view(first, static_cast<size_t>(stop - first));
    m_at = stop + 1;
    return true;
  }

  // A value opened `depth` arrays and objects deep.
  bool ReadValue(Json::Value* out, int depth) {
    const char* const start = m_at;
    if (!ReadPayload(out, depth)) return false;
    if (out != nullptr) {
      out->setOffsetStart(start - m_begin);
      out->setOffsetLimit(m_at - m_begin);
    }
    return true;
  }

  // The members of the object at m_at, each handed to `visitor`.
  bool VisitObject(SubsetMemberVisitor& visitor) {
    return ReadMembers(0, [&](std::string_view name) {
      SubsetMember member(this, Kind());
      visitor.Visit(name, member);
      if (member.m_failed) return false;
      return member.m_taken || ReadValue(nullptr, 1);
    });
  }

 private:
  bool ReadPayload(Json::Value* out, int depth) {
    if (m_at == m_end) return false;
    switch (KindOf(*m_at)) {
      case SubsetKind::kNull:
        return ReadWord("null", Json::Value(), out);
      case SubsetKind::kTrue:
        return ReadWord("true", Json::Value(true), out);
      case SubsetKind::kFalse:
        return ReadWord("false", Json::Value(false), out);
      case SubsetKind::kString: {
        std::string_view text;
        if (!ReadString(text)) return false;
        if (out != nullptr) {
          Json::Value value(text.data(), text.data() + text.size());
          out->swapPayload(value);
        }
        return true;
      }
      case SubsetKind::kInteger:
        return ReadInteger(out);
      case SubsetKind::kArray:
        return ReadArray(out, depth);
      case SubsetKind::kObject:
        return ReadObject(out, depth);
      case SubsetKind::kOther:
        break;
    }
    return false;
  }

  bool ReadWord(std::string_view word, Json::Value value, Json::Value* out) {
    if (static_cast<size_t>(m_end - m_at) < word.size() || std::memcmp(m_at, word.data(), word.size()) != 0) {
      return false;
    }
    m_at += word.size();
    if (out != nullptr) out->swapPayload(value);
    return true;
  }

  bool ReadInteger(Json::Value* out) {
    const bool negative = *m_at == '-';
    if (negative) ++m_at;
    const char* const digits = m_at;
    uint64_t magnitude = 0;
    while (m_at != m_end && IsDigit(*m_at)) magnitude = magnitude * 10 + static_cast<uint64_t>(*m_at++ - '0');
    const ptrdiff_t count = m_at - digits;
    if (count == 0 || count > 18 || (*digits == '0' && count > 1)) return false;
    // "1.5", "1e5" and "1x" are no integers of the subset.
    if (m_at != m_end && !IsSpace(*m_at) && *m_at != ',' && *m_at != ']' && *m_at != '}') return false;
    if (out == nullptr) return true;
    // The reader's types: negative numbers and those up to the largest Int
    // are intValue, larger ones uintValue.
    Json::Value value = negative ? Json::Value(-static_cast<Json::Value::LargestInt>(magnitude))
                        : magnitude <= static_cast<uint64_t>(std::numeric_limits<Json::Int>::max())
                            ? Json::Value(static_cast<Json::Value::LargestInt>(magnitude))
                            : Json::Value(static_cast<Json::Value::LargestUInt>(magnitude));
    out->swapPayload(value);
    return true;
  }

  bool ReadArray(Json::Value* out, int depth) {
    if (depth >= kMaxSubsetDepth) return false;
    if (out != nullptr) {
      Json::Value array(Json::arrayValue);
      out->swapPayload(array);
    }
    ++m_at;
    SkipSpaces();
    if (m_at != m_end && *m_at == ']') {
      ++m_at;
      return true;
    }
    for (Json::ArrayIndex index = 0;; ++index) {
      if (!ReadValue(out != nullptr ? &(*out)[index] : nullptr, depth + 1)) return false;
      SkipSpaces();
      if (m_at == m_end) return false;
      if (*m_at++ == ']') return true;
      if (m_at[-1] != ',') return false;
      SkipSpaces();
    }
  }

  bool ReadObject(Json::Value* out, int depth) {
    if (out != nullptr) {
      Json::Value object(Json::objectValue);
      out->swapPayload(object);
    }
    return ReadMembers(depth, [&](std::string_view name) {
      // Json::Reader reads a repeated name into the member already there,
      // so the last one wins.
      Json::Value* member = out != nullptr ? out->demand(name.data(), name.data() + name.size()) : nullptr;
      return ReadValue(member, depth + 1);
    });
  }

  // The object at m_at, opened `depth` levels deep: its names in order, each
  // followed by a call of `readMember`, which reads the member's value.
  template <typename ReadMember>
  bool ReadMembers(int depth, ReadMember&& readMember) {
    if (depth >= kMaxSubsetDepth) return false;
    ++m_at;
    SkipSpaces();
    if (m_at != m_end && *m_at == '}') {
      ++m_at;
      return true;
    }
    for (;;) {
      std::string_view name;
      if (m_at == m_end || *m_at != '"' || !ReadString(name)) return false;
      SkipSpaces();
      if (m_at == m_end || *m_at != ':') return false;
      ++m_at;
      SkipSpaces();
      if (!readMember(name)) return false;
      SkipSpaces();
      if (m_at == m_end) return false;
      if (*m_at++ == '}') return true;
      if (m_at[-1] != ',') return false;
      SkipSpaces();
    }
  }

  const char* const m_begin;
  const char* m_at;
  const char* const m_end;
};

std::string_view SubsetMember::String() {
  std::string_view text;
  if (m_taken || m_kind != SubsetKind::kString || !m_scanner->ReadString(text)) m_failed = true;
  m_taken = true;
  return m_failed ? std::string_view() : text;
}

void SubsetMember::Read(Json::Value& out) {
  // Reading replaces the payload and the offsets of whatever `out` held.
  if (m_taken || !m_scanner->ReadValue(&out, 1)) m_failed = true;
  m_taken = true;
}

bool ReadJsonSubset(std::string_view text, Json::Value& out) {
  out = Json::Value();
  try {
    SubsetScanner scanner(text);
    scanner.SkipSpaces();
    if (scanner.ReadValue(&out, 0)) {
      scanner.SkipSpaces();
      if (scanner.AtEnd()) return true;
    }
  } catch (const std::exception&) {
    // Outside the subset as far as the caller is concerned: Json::Reader
    // meets the same limit and answers for the text.
  }
  out = Json::Value();
  return false;
}

SubsetRoot VisitSubsetRoot(std::string_view text, SubsetMemberVisitor& visitor) {
  try {
    SubsetScanner scanner(text);
    scanner.SkipSpaces();
    const SubsetKind kind = scanner.Kind();
    const bool read = kind == SubsetKind::kObject ? scanner.VisitObject(visitor) : scanner.ReadValue(nullptr, 0);
    scanner.SkipSpaces();
    if (!read || !scanner.AtEnd()) return SubsetRoot::kOutside;
    if (kind == SubsetKind::kObject) return SubsetRoot::kObject;
    return kind == SubsetKind::kNull ? SubsetRoot::kNull : SubsetRoot::kOther;
  } catch (const std::exception&) {
    return SubsetRoot::kOutside;
  }
}

}  // namespace vorneth
