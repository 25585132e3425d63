// The RSA public-key operation m = x^e mod n with Montgomery multiplication.
//
// MontgomeryRsa<Limb, Wide, kLimbs> holds one key: the modulus n (odd, at
// most kLimbs limbs), the exponent e and the constants Montgomery
// multiplication needs (-1/n mod 2^limb bits and R^2 mod n, R = 2^(limb bits
// x kLimbs)), all computed once by the constructor. Wide holds the product of
// two limbs: 64-bit limbs with a 128-bit product where the compiler has one,
// 32-bit limbs with a 64-bit product elsewhere (RsaPublicKey in
// rsa_public_key.h picks); both variants compute the same numbers.
//
// Numbers travel as big-endian byte strings. A constructed key is only read:
// any number of threads may call PublicKeyBlock at once without a lock.
// Exact, not constant-time: the operation only ever sees public data.
#ifndef VORNETH_SECURITY_RSA_MONTGOMERY_H_
#define VORNETH_SECURITY_RSA_MONTGOMERY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vorneth {

template <typename Limb, typename Wide, size_t kLimbs>
class MontgomeryRsa {
 public:
  static constexpr size_t kLimbBits = 8 * sizeof(Limb);
  // The largest modulus, in bytes.
  static constexpr size_t kMaxBytes = kLimbs * sizeof(Limb);
  using Number = std::array<Limb, kLimbs>;  // least significant limb first

  // `modulus` and `exponent` are big-endian. The key is unusable (valid()
  // false) when the modulus is longer than kMaxBytes, even, or below 3, or
  // when the exponent is longer than kMaxBytes or zero.
  MontgomeryRsa(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent) {
    m_size = modulus.size();
    m_valid = modulus.size() <= kMaxBytes && exponent.size() <= kMaxBytes && Decode(modulus, m_n) &&
              Decode(exponent, m_e) && (m_n[0] & 1) != 0 && !IsBelow(m_n, 3) && !IsBelow(m_e, 1);
    if (!m_valid) return;
    m_n0inv = NegativeInverse(m_n[0]);
    m_r2 = RSquared();
    m_one = Number{};
    m_one[0] = 1;
  }

  bool valid() const { return m_valid; }
  // Bytes of every output: the modulus length as given.
  size_t size() const { return m_size; }

  // Writes x^e mod n, big-endian in size() bytes, to `output`, where x is
  // the big-endian number at `input`. False (output untouched) when the key
  // is not valid or x is not less than n.
  bool PublicKeyBlock(const uint8_t* input, size_t inputLength, uint8_t* output) const {
    Number x;
    if (!m_valid || !DecodeBelowModulus(input, inputLength, x)) return false;
    const Number result = Power(x);
    for (size_t i = 0; i < m_size; ++i) {
      const size_t byte = m_size - 1 - i;  // from the least significant byte
      output[i] =
          byte < kMaxBytes ? static_cast<uint8_t>(result[byte / sizeof(Limb)] >> (8 * (byte % sizeof(Limb)))) : 0;
    }
    return true;
  }

 private:
  // Big-endian bytes into limbs, from the last byte backwards. False when a
  // non-zero byte does not fit.
  static bool Decode(std::span<const uint8_t> bytes, Number& out) {
    out = Number{};
    for (size_t i = 0; i < bytes.size(); ++i) {
      const size_t byte = bytes.size() - 1 - i;  // significance of bytes[i]
      if (byte >= kMaxBytes) {
        if (bytes[i] != 0) return false;
        continue;
      }
      out[byte / sizeof(Limb)] |= static_cast<Limb>(static_cast<Limb>(bytes[i]) << (8 * (byte % sizeof(Limb))));
    }
    return true;
  }

  bool DecodeBelowModulus(const uint8_t* input, size_t inputLength, Number& x) const {
    if (input == nullptr && inputLength > 0) return false;
    return Decode(std::span<const uint8_t>(input, inputLength), x) && Compare(x, 0, m_n) < 0;
  }

  static bool IsBelow(const Number& a, Limb value) {
    for (size_t i = kLimbs; i-- > 1;) {
      if (a[i] != 0) return false;
    }
    return a[0] < value;
  }

  // Sign of (top:a) - b, where top is a limb above a's most significant one.
  static int Compare(const Number& a, Limb top, const Number& b) {
    if (top != 0) return 1;
    for (size_t i = kLimbs; i-- > 0;) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
  }

  // a -= b, returning the borrow.
  static Limb Subtract(Number& a, const Number& b) {
    Limb borrow = 0;
    for (size_t i = 0; i < kLimbs; ++i) {
      const Wide d = static_cast<Wide>(a[i]) - b[i] - borrow;
      a[i] = static_cast<Limb>(d);
      borrow = static_cast<Limb>(d >> kLimbBits) & 1;
    }
    return borrow;
  }

  // -1/n0 mod 2^kLimbBits by Newton's iteration: each step doubles the
  // correct low bits, starting from 3 (n0 * n0 = 1 mod 8 for odd n0).
  static Limb NegativeInverse(Limb n0) {
    Limb inverse = n0;
    for (size_t bits = 3; bits < kLimbBits; bits *= 2) inverse = static_cast<Limb>(inverse * (2 - n0 * inverse));
    return static_cast<Limb>(0 - inverse);
  }

  // R^2 mod n by doubling 1 modulo n, 2 x kLimbs x kLimbBits times. Runs
  // once per key.
  Number RSquared() const {
    Number r{};
    r[0] = 1;
    for (size_t i = 0; i < 2 * kLimbs * kLimbBits; ++i) {
      Limb carry = 0;
      for (size_t j = 0; j < kLimbs; ++j) {
        const Limb next = static_cast<Limb>(r[j] >> (kLimbBits - 1));
        r[j] = static_cast<Limb>((r[j] << 1) | carry);
        carry = next;
      }
      if (Compare(r, carry, m_n) >= 0) Subtract(r, m_n);
    }
    return r;
  }

  // a x b / R mod n for a, b < n, fully reduced. One pass per limb of b:
  // add a x b[i], then the multiple of n that clears the low limb, and shift
  // down one limb; the running value stays below 2n.
  Number Multiply(const Number& a, const Number& b) const {
    Number t{};
    Limb top = 0;
    for (size_t i = 0; i < kLimbs; ++i) {
      const Limb bi = b[i];
      Wide u = static_cast<Wide>(a[0]) * bi + t[0];
      Limb c1 = static_cast<Limb>(u >> kLimbBits);
      const Limb m = static_cast<Limb>(static_cast<Limb>(u) * m_n0inv);
      Wide v = static_cast<Wide>(m) * m_n[0] + static_cast<Limb>(u);
      Limb c2 = static_cast<Limb>(v >> kLimbBits);
      for (size_t j = 1; j < kLimbs; ++j) {
        u = static_cast<Wide>(a[j]) * bi + t[j] + c1;
        c1 = static_cast<Limb>(u >> kLimbBits);
        v = static_cast<Wide>(m) * m_n[j] + static_cast<Limb>(u) + c2;
        c2 = static_cast<Limb>(v >> kLimbBits);
        t[j - 1] = static_cast<Limb>(v);
      }
      const Wide w = static_cast<Wide>(top) + c1 + c2;
      t[kLimbs - 1] = static_cast<Limb>(w);
      top = static_cast<Limb>(w >> kLimbBits);
    }
    if (Compare(t, top, m_n) >= 0) Subtract(t, m_n);
    return t;
  }

  // x^e mod n, left to right over the exponent's bits in Montgomery form.
  // A set last bit multiplies by x itself, which leaves Montgomery form in
  // the same step (for e = 65537: 16 squarings and 2 more products).
  Number Power(const Number& x) const {
    size_t bit = kLimbs * kLimbBits;
    while (bit-- > 0 && ((m_e[bit / kLimbBits] >> (bit % kLimbBits)) & 1) == 0) {
    }
    const Number x_mont = Multiply(x, m_r2);
    Number acc = x_mont;
    while (bit-- > 0) {
      acc = Multiply(acc, acc);
      if (((m_e[bit / kLimbBits] >> (bit % kLimbBits)) & 1) != 0) {
        if (bit == 0) return Multiply(acc, x);
        acc = Multiply(acc, x_mont);
      }
    }
    return Multiply(acc, m_one);
  }

  bool m_valid = false;
  size_t m_size = 0;
  Number m_n{};
  Number m_e{};
  Number m_r2{};
  Number m_one{};
  Limb m_n0inv = 0;
};

}  // namespace vorneth

#endif  // VORNETH_SECURITY_RSA_MONTGOMERY_H_
