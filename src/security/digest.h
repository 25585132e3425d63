// SHA-1 message digests.
//
// CDigest collects input in blocks and hands whole blocks to its derived
// class; CSHA1 is the one derived class. Use: create an object, Update it
// with the message (in one call or in pieces of any size), then Finish()
// and read the DigestSize() bytes of Digest(). An object serves one message
// only. Objects share nothing: any number may be used on different threads
// at once.
//
// The compression function is chosen once per process, at run time: the
// CPU's SHA instructions where it has them, a portable one elsewhere. Both
// give the standard SHA-1 digest of every input.
#ifndef VORNETH_SECURITY_DIGEST_H_
#define VORNETH_SECURITY_DIGEST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorneth {

class CDigest {
 public:
  virtual ~CDigest() = default;
  CDigest(const CDigest&) = delete;
  CDigest& operator=(const CDigest&) = delete;

  // Adds `length` bytes at `data` to the message. Whole blocks are hashed as
  // soon as more input follows them, so a message that ends on a block
  // boundary keeps its last block for Finish. Nothing happens for length 0.
  void Update(const uint8_t* data, size_t length);
  // Ends the message: pads it and leaves the digest in Digest().
  void Finish() { Finish(m_block.get(), m_blockFill, m_total, m_digest.get()); }

  const uint8_t* Digest() const { return m_digest.get(); }
  int32_t DigestSize() const { return m_digestSize; }

 protected:
  CDigest(int32_t digestSize, int32_t blockSize);

  // Hashes `count` whole blocks at `blocks` into the chaining state; when
  // `hashedBefore` is 0 the state is first set to its initial values.
  virtual void HashBlocks(const uint8_t* blocks, size_t count, uint64_t hashedBefore, uint8_t* state) = 0;
  // Hashes the last `tailLength` (0 to one block) bytes, pads the message
  // of hashedBefore + tailLength bytes and writes the digest into `state`.
  virtual void Finish(const uint8_t* tail, int32_t tailLength, uint64_t hashedBefore, uint8_t* state) = 0;

  std::unique_ptr<uint8_t[]> m_block;   // input waiting for a whole block
  int32_t m_blockFill = 0;              // bytes now in m_block
  int32_t m_lastCopy = 0;               // bytes of the latest copy into m_block
  uint64_t m_total = 0;                 // bytes already hashed as whole blocks
  std::unique_ptr<uint8_t[]> m_digest;  // chaining state, then the digest
  const int32_t m_digestSize;
  const int32_t m_blockSize;
};

class CSHA1 final : public CDigest {
 public:
  static constexpr int32_t kDigestSize = 20;
  static constexpr int32_t kBlockSize = 64;
  CSHA1() : CDigest(kDigestSize, kBlockSize) {}
  using CDigest::Finish;

 protected:
  void HashBlocks(const uint8_t* blocks, size_t count, uint64_t hashedBefore, uint8_t* state) override;
  void Finish(const uint8_t* tail, int32_t tailLength, uint64_t hashedBefore, uint8_t* state) override;
};

using Sha1Digest = std::array<uint8_t, CSHA1::kDigestSize>;

// The SHA-1 digest of `length` bytes at `data` (one CSHA1, one Update).
Sha1Digest ComputeSha1(const uint8_t* data, size_t length);

}  // namespace vorneth

#endif  // VORNETH_SECURITY_DIGEST_H_
