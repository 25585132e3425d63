#include "security/digest.h"

#include <algorithm>
#include <cstring>

#include "security/sha1_compress.h"

namespace vorneth {

CDigest::CDigest(int32_t digestSize, int32_t blockSize)
    : m_block(std::make_unique<uint8_t[]>(static_cast<size_t>(blockSize))),
      m_digest(std::make_unique<uint8_t[]>(static_cast<size_t>(digestSize))),
      m_digestSize(digestSize),
      m_blockSize(blockSize) {}

// Input goes through m_block only while it is partly filled: whole blocks are
// hashed straight from `data`, in runs, except the last block of the input,
// which always waits in m_block so that Finish sees 1 to one block bytes.
void CDigest::Update(const uint8_t* data, size_t length) {
  const size_t block_size = static_cast<size_t>(m_blockSize);
  while (length > 0) {
    if (m_blockFill == m_blockSize) {
      // More input follows a full buffer: its block is not the last one.
      HashBlocks(m_block.get(), 1, m_total, m_digest.get());
      m_total += block_size;
      m_blockFill = 0;
    }
    if (m_blockFill == 0 && length > block_size) {
      const size_t blocks = (length - 1) / block_size;
      HashBlocks(data, blocks, m_total, m_digest.get());
      m_total += blocks * block_size;
      data += blocks * block_size;
      length -= blocks * block_size;
    }
    const size_t n = std::min(length, block_size - static_cast<size_t>(m_blockFill));
    std::memcpy(m_block.get() + m_blockFill, data, n);
    m_lastCopy = static_cast<int32_t>(n);
    m_blockFill += static_cast<int32_t>(n);
    data += n;
    length -= n;
  }
}

namespace {

void LoadState(const uint8_t* bytes, uint64_t hashedBefore, uint32_t* words) {
  if (hashedBefore == 0) {
    std::memcpy(words, kSha1InitialState, sizeof(kSha1InitialState));
  } else {
    std::memcpy(words, bytes, 5 * sizeof(uint32_t));
  }
}

void StoreBigEndian(uint32_t word, uint8_t* out) {
  out[0] = static_cast<uint8_t>(word >> 24);
  out[1] = static_cast<uint8_t>(word >> 16);
  out[2] = static_cast<uint8_t>(word >> 8);
  out[3] = static_cast<uint8_t>(word);
}

}  // namespace

void CSHA1::HashBlocks(const uint8_t* blocks, size_t count, uint64_t hashedBefore, uint8_t* state) {
  uint32_t words[5];
  LoadState(state, hashedBefore, words);
  Sha1Compress()(words, blocks, count);
  std::memcpy(state, words, sizeof(words));
}

void CSHA1::Finish(const uint8_t* tail, int32_t tailLength, uint64_t hashedBefore, uint8_t* state) {
  uint32_t words[5];
  LoadState(state, hashedBefore, words);
  const size_t tail_length = static_cast<size_t>(std::clamp(tailLength, 0, kBlockSize));
  // The tail, 0x80, zeros, and the bit length: one block when 8 bytes of
  // length fit after the 0x80, two otherwise.
  uint8_t last[2 * kBlockSize] = {};
  if (tail_length > 0) std::memcpy(last, tail, tail_length);
  last[tail_length] = 0x80;
  const size_t padded = tail_length + 1 + 8 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  const uint64_t bits = (hashedBefore + tail_length) * 8;
  for (int i = 0; i < 8; ++i) last[padded - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  Sha1Compress()(words, last, padded / kBlockSize);
  for (size_t i = 0; i < 5; ++i) StoreBigEndian(words[i], state + 4 * i);
}

Sha1Digest ComputeSha1(const uint8_t* data, size_t length) {
  CSHA1 sha1;
  sha1.Update(data, length);
  sha1.Finish();
  Sha1Digest digest;
  std::memcpy(digest.data(), sha1.Digest(), digest.size());
  return digest;
}

}  // namespace vorneth
