// SHA-1 compression in plain C++: the 80 rounds fully unrolled over a 16-word
// rolling message schedule, so the words live in registers.
#include <cstring>

#include "security/sha1_compress.h"

namespace vorneth {

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint32_t Choose(uint32_t b, uint32_t c, uint32_t d) {
  return d ^ (b & (c ^ d));
}
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) {
  return b ^ c ^ d;
}
inline uint32_t Majority(uint32_t b, uint32_t c, uint32_t d) {
  return (b & c) + (d & (b ^ c));
}

// Word i of the schedule for i >= 16, kept in w[i % 16].
inline uint32_t Expand(uint32_t* w, int i) {
  const uint32_t x = Rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
  w[i & 15] = x;
  return x;
}

}  // namespace

// One round; the five variables rotate by renaming from one line to the next.
#define VORNETH_SHA1_ROUND(a, b, c, d, e, f, k, word)        \
  do {                                                       \
    (e) += Rotl((a), 5) + (f)((b), (c), (d)) + (k) + (word); \
    (b) = Rotl((b), 30);                                     \
  } while (0)

// `word` names a macro that yields a schedule word, so it cannot stand in
// parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VORNETH_SHA1_FIVE(i, f, k, word)                  \
  VORNETH_SHA1_ROUND(a, b, c, d, e, f, k, word(i));       \
  VORNETH_SHA1_ROUND(e, a, b, c, d, f, k, word((i) + 1)); \
  VORNETH_SHA1_ROUND(d, e, a, b, c, f, k, word((i) + 2)); \
  VORNETH_SHA1_ROUND(c, d, e, a, b, f, k, word((i) + 3)); \
  VORNETH_SHA1_ROUND(b, c, d, e, a, f, k, word((i) + 4))
// NOLINTEND(bugprone-macro-parentheses)

#define VORNETH_SHA1_LOADED(i) (w[i] = LoadBigEndian(block + size_t{4} * (i)))
#define VORNETH_SHA1_EXPANDED(i) Expand(w, i)
#define VORNETH_SHA1_FIRST16(i) ((i) < 16 ? VORNETH_SHA1_LOADED((i)&15) : VORNETH_SHA1_EXPANDED(i))

void Sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) {
  uint32_t w[16];
  for (size_t n = 0; n < count; ++n) {
    const uint8_t* block = blocks + 64 * n;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    VORNETH_SHA1_FIVE(0, Choose, 0x5A827999u, VORNETH_SHA1_FIRST16);
    VORNETH_SHA1_FIVE(5, Choose, 0x5A827999u, VORNETH_SHA1_FIRST16);
    VORNETH_SHA1_FIVE(10, Choose, 0x5A827999u, VORNETH_SHA1_FIRST16);
    VORNETH_SHA1_FIVE(15, Choose, 0x5A827999u, VORNETH_SHA1_FIRST16);
    VORNETH_SHA1_FIVE(20, Parity, 0x6ED9EBA1u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(25, Parity, 0x6ED9EBA1u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(30, Parity, 0x6ED9EBA1u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(35, Parity, 0x6ED9EBA1u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(40, Majority, 0x8F1BBCDCu, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(45, Majority, 0x8F1BBCDCu, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(50, Majority, 0x8F1BBCDCu, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(55, Majority, 0x8F1BBCDCu, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(60, Parity, 0xCA62C1D6u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(65, Parity, 0xCA62C1D6u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(70, Parity, 0xCA62C1D6u, VORNETH_SHA1_EXPANDED);
    VORNETH_SHA1_FIVE(75, Parity, 0xCA62C1D6u, VORNETH_SHA1_EXPANDED);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#undef VORNETH_SHA1_FIRST16
#undef VORNETH_SHA1_EXPANDED
#undef VORNETH_SHA1_LOADED
#undef VORNETH_SHA1_FIVE
#undef VORNETH_SHA1_ROUND

}  // namespace vorneth
