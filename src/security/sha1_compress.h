// The SHA-1 compression functions behind CSHA1, exposed so that tests and
// benchmarks can check and time each one on its own.
//
// A compression function hashes `count` whole 64-byte blocks at `blocks`
// into the five chaining words at `state` (machine order). Every variant
// gives the same words for the same input. Pure functions: any number of
// calls may run at once on different states.
//
// Sha1Compress() picks the fastest variant this CPU runs, once per process
// (a thread-safe static); the choice never changes afterwards.
#ifndef VORNETH_SECURITY_SHA1_COMPRESS_H_
#define VORNETH_SECURITY_SHA1_COMPRESS_H_

#include <cstddef>
#include <cstdint>

namespace vorneth {

using Sha1CompressFunction = void (*)(uint32_t* state, const uint8_t* blocks, size_t count);

// The SHA-1 initial chaining words.
inline constexpr uint32_t kSha1InitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

// Plain C++, for every CPU.
void Sha1CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count);

// The x86 SHA instructions (with SSSE3 and SSE4.1), or null where this CPU or
// this build has none; calling it on a CPU without them would fault.
Sha1CompressFunction Sha1CompressShaInstructions();

// The variant every digest uses.
Sha1CompressFunction Sha1Compress();

}  // namespace vorneth

#endif  // VORNETH_SECURITY_SHA1_COMPRESS_H_
