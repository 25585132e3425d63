// SHA-1 compression with the x86 SHA instructions, and the run-time choice
// between it and the portable function.
//
// Only this file's SHA function is compiled for the SHA extensions (through
// the target attribute), so the rest of the program builds and runs on any
// x86 CPU; the choice is made once from cpuid.
#include "security/sha1_compress.h"

#if defined(__x86_64__) || defined(__i386__)
#define VORNETH_SHA1_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vorneth {

#if defined(VORNETH_SHA1_X86)

namespace {

// cpuid leaf 7 EBX bit 29 (SHA), leaf 1 ECX bits 9 (SSSE3) and 19 (SSE4.1).
bool CpuHasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

// Four rounds g (0 to 19) of a block: the next E from the A saved four rounds
// ago, then SHA1RNDS4 with the round function of rounds 4g to 4g+3.
#define VORNETH_SHA1_ROUNDS4(g, word)             \
  do {                                            \
    e = _mm_sha1nexte_epu32(saved, (word));       \
    saved = abcd;                                 \
    abcd = _mm_sha1rnds4_epu32(abcd, e, (g) / 5); \
  } while (0)

// Message words 4g to 4g+3 for g >= 4, into m[g % 4], from the previous
// sixteen words m[(g+1) % 4] .. m[(g+3) % 4] and the old m[g % 4].
#define VORNETH_SHA1_SCHEDULE(g)                                                                                      \
  (m[(g) % 4] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(m[(g) % 4], m[((g) + 1) % 4]), m[((g) + 2) % 4]), \
                                   m[((g) + 3) % 4]))

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1CompressSha(uint32_t* state, const uint8_t* blocks, size_t count) {
  // Big-endian words: reverse the bytes of the whole 16-byte lane.
  const __m128i byte_order = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (size_t n = 0; n < count; ++n) {
    const __m128i* block = reinterpret_cast<const __m128i*>(blocks + 64 * n);
    const __m128i abcd_before = abcd;
    const __m128i e_before = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) m[i] = _mm_shuffle_epi8(_mm_loadu_si128(block + i), byte_order);

    __m128i e = _mm_add_epi32(e0, m[0]);
    __m128i saved = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
    VORNETH_SHA1_ROUNDS4(1, m[1]);
    VORNETH_SHA1_ROUNDS4(2, m[2]);
    VORNETH_SHA1_ROUNDS4(3, m[3]);
    VORNETH_SHA1_ROUNDS4(4, VORNETH_SHA1_SCHEDULE(4));
    VORNETH_SHA1_ROUNDS4(5, VORNETH_SHA1_SCHEDULE(5));
    VORNETH_SHA1_ROUNDS4(6, VORNETH_SHA1_SCHEDULE(6));
    VORNETH_SHA1_ROUNDS4(7, VORNETH_SHA1_SCHEDULE(7));
    VORNETH_SHA1_ROUNDS4(8, VORNETH_SHA1_SCHEDULE(8));
    VORNETH_SHA1_ROUNDS4(9, VORNETH_SHA1_SCHEDULE(9));
    VORNETH_SHA1_ROUNDS4(10, VORNETH_SHA1_SCHEDULE(10));
    VORNETH_SHA1_ROUNDS4(11, VORNETH_SHA1_SCHEDULE(11));
    VORNETH_SHA1_ROUNDS4(12, VORNETH_SHA1_SCHEDULE(12));
    VORNETH_SHA1_ROUNDS4(13, VORNETH_SHA1_SCHEDULE(13));
    VORNETH_SHA1_ROUNDS4(14, VORNETH_SHA1_SCHEDULE(14));
    VORNETH_SHA1_ROUNDS4(15, VORNETH_SHA1_SCHEDULE(15));
    VORNETH_SHA1_ROUNDS4(16, VORNETH_SHA1_SCHEDULE(16));
    VORNETH_SHA1_ROUNDS4(17, VORNETH_SHA1_SCHEDULE(17));
    VORNETH_SHA1_ROUNDS4(18, VORNETH_SHA1_SCHEDULE(18));
    VORNETH_SHA1_ROUNDS4(19, VORNETH_SHA1_SCHEDULE(19));

    e0 = _mm_sha1nexte_epu32(saved, e_before);
    abcd = _mm_add_epi32(abcd, abcd_before);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef VORNETH_SHA1_SCHEDULE
#undef VORNETH_SHA1_ROUNDS4

}  // namespace

Sha1CompressFunction Sha1CompressShaInstructions() {
  static const bool has_sha = CpuHasShaInstructions();
  return has_sha ? &Sha1CompressSha : nullptr;
}

#else

Sha1CompressFunction Sha1CompressShaInstructions() {
  return nullptr;
}

#endif

Sha1CompressFunction Sha1Compress() {
  static const Sha1CompressFunction chosen = [] {
    const Sha1CompressFunction sha = Sha1CompressShaInstructions();
    return sha != nullptr ? sha : &Sha1CompressPortable;
  }();
  return chosen;
}

}  // namespace vorneth
