// A fast reader for the plain JSON that requests are made of: an exact
// subset of what Json::Reader accepts, read into exactly the values that
// Json::Reader builds (the same types, the same source offsets).
//
// The subset:
// - whitespace: space, tab, carriage return, line feed;
// - objects and arrays, nested at most kMaxSubsetDepth levels;
// - strings without any backslash; every other byte (NUL, control bytes,
//   bytes of 0x80 and above) stands for itself;
// - integers -?(0|[1-9][0-9]{0,17}) followed by whitespace, ',', ']', '}' or
//   the end of the text: an intValue when negative or up to 2^31-1, a
//   uintValue above, as the reader gives them;
// - true, false, null;
// - nothing but whitespace after the root value.
// Anything else (escapes, comments, reals and exponents, leading zeros, a
// '-' without digits, bytes after the root value, deeper nesting, a
// truncated text) is outside the subset: the functions below then answer so
// and what they built is not to be used. The caller falls back to
// Json::Reader, which knows the rest.
//
// Strings are found eight bytes at a time, so a long string costs one pass
// over its bytes, plus the copy into its Json::Value.
//
// Nothing here throws: an exception from JsonCpp, from an allocation or from
// a visitor answers "outside the subset". No state is shared; any thread may
// call these functions.
#ifndef VORNETH_JSON_JSON_SUBSET_READER_H_
#define VORNETH_JSON_JSON_SUBSET_READER_H_

#include <json/value.h>

#include <string_view>

namespace vorneth {

inline constexpr int kMaxSubsetDepth = 64;

// Reads the whole `text` as one value into `out`. False when the text is
// outside the subset; `out` is then null.
bool ReadJsonSubset(std::string_view text, Json::Value& out);

// The kind of a value as its first byte announces it. Whether the value is
// really inside the subset ("tru", "01", an escape) shows only once it is
// read; the visit as a whole then answers kOutside.
enum class SubsetKind { kNull, kTrue, kFalse, kString, kInteger, kArray, kObject, kOther };

class SubsetScanner;

// The value of one member of the root object, handed to a visitor before
// it is read. The visitor reads it at most once, through String (strings
// only) or Read (any kind); a value it leaves alone is skipped (and still
// checked) by the reader. A handle is valid only during the visit.
class SubsetMember {
 public:
  SubsetKind kind() const { return m_kind; }
  // The bytes of a string, pointing into the text. Empty when the value is
  // no string inside the subset; the visit then fails.
  std::string_view String();
  // The value, built as Json::Reader builds it. When the value is outside
  // the subset the visit fails and `out` holds nothing to use.
  void Read(Json::Value& out);

 private:
  friend class SubsetScanner;
  SubsetMember(SubsetScanner* scanner, SubsetKind kind) : m_scanner(scanner), m_kind(kind) {}

  SubsetScanner* m_scanner;
  SubsetKind m_kind;
  bool m_taken = false;
  bool m_failed = false;
};

// Receives the members of a root object in text order, duplicates included
// (Json::Reader keeps the last one).
class SubsetMemberVisitor {
 public:
  virtual void Visit(std::string_view name, SubsetMember& value) = 0;

 protected:
  ~SubsetMemberVisitor() = default;
};

enum class SubsetRoot {
  kOutside,  // the text is outside the subset; anything visited is void
  kObject,   // an object, whose members were all visited
  kNull,     // the root value is null; nothing visited
  kOther,    // a string, number, boolean or array, checked but not built
};

// Visits the members of the root object of `text` without building the
// object; values the visitor does not read are checked, not built.
SubsetRoot VisitSubsetRoot(std::string_view text, SubsetMemberVisitor& visitor);

}  // namespace vorneth

#endif  // VORNETH_JSON_JSON_SUBSET_READER_H_
