// The digest and the signature check beside OpenSSL's, in one run: SHA-1
// on 16 KiB messages in MB/s, RSA-2048 verifications per second, and the
// ratios against the targets. Each figure is the best of several rounds of
// about 0.3 s (the machine is shared and noisy).
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "security/digest.h"
#include "security/security_validator.h"
#include "security/sha1_compress.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMessageSize = 16 * 1024;
constexpr int kRounds = 7;
constexpr double kRoundSeconds = 0.3;
constexpr double kShaTarget = 0.9;
constexpr double kRsaTarget = 0.5;

volatile uint8_t g_sink;

// Operations per second of `ours` and of `theirs`, each the best of
// kRounds rounds; the rounds alternate so that both see the same noise.
struct Rates {
  double m_ours = 0;
  double m_theirs = 0;
};

double RoundRate(const std::function<void()>& operation) {
  const Clock::time_point start = Clock::now();
  int64_t done = 0;
  double seconds = 0;
  do {
    for (int i = 0; i < 16; ++i) operation();
    done += 16;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (seconds < kRoundSeconds);
  return static_cast<double>(done) / seconds;
}

Rates BestRates(const std::function<void()>& ours, const std::function<void()>& theirs) {
  Rates best;
  for (int round = 0; round < kRounds; ++round) {
    best.m_ours = std::max(best.m_ours, RoundRate(ours));
    best.m_theirs = std::max(best.m_theirs, RoundRate(theirs));
  }
  return best;
}

double BestRate(const std::function<void()>& operation) {
  double best = 0;
  for (int round = 0; round < kRounds; ++round) best = std::max(best, RoundRate(operation));
  return best;
}

void Row(const char* what, double ours, double theirs, const char* unit, double target) {
  std::printf("%-28s %12.0f %12.0f %-8s %6.2f   (target %.1f)%s\n", what, ours, theirs, unit, ours / theirs, target,
              ours / theirs >= target ? "" : "  BELOW TARGET");
}

struct Signer {
  EVP_PKEY* m_key = nullptr;
  std::vector<uint8_t> m_signature;
  ~Signer() { EVP_PKEY_free(m_key); }
};

// The development key pair and a signature of `data` made with it.
bool Sign(const std::vector<uint8_t>& data, Signer& signer) {
  FILE* file = std::fopen(VORNETH_BENCH_PRIVATE_KEY, "r");
  if (file == nullptr) return false;
  signer.m_key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (signer.m_key == nullptr) return false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  size_t length = 0;
  bool ok = EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, signer.m_key) == 1 &&
            EVP_DigestSign(ctx, nullptr, &length, data.data(), data.size()) == 1;
  signer.m_signature.resize(length);
  ok = ok && EVP_DigestSign(ctx, signer.m_signature.data(), &length, data.data(), data.size()) == 1;
  EVP_MD_CTX_free(ctx);
  return ok;
}

void BenchSha1(const std::vector<uint8_t>& message) {
  const double mb = static_cast<double>(message.size()) / 1e6;
  const Rates rates = BestRates([&] { g_sink = vorneth::ComputeSha1(message.data(), message.size())[0]; },
                                [&] {
                                  uint8_t digest[EVP_MAX_MD_SIZE];
                                  unsigned int length = 0;
                                  EVP_Digest(message.data(), message.size(), digest, &length, EVP_sha1(), nullptr);
                                  g_sink = digest[0];
                                });
  Row("SHA-1, 16 KiB messages", rates.m_ours * mb, rates.m_theirs * mb, "MB/s", kShaTarget);
  // The compression functions alone, over the message's 256 blocks.
  const double portable = BestRate([&] {
                            uint32_t state[5] = {1, 2, 3, 4, 5};
                            vorneth::Sha1CompressPortable(state, message.data(), message.size() / 64);
                            g_sink = static_cast<uint8_t>(state[0]);
                          }) *
                          mb;
  std::printf("%-28s %12.0f\n", "  portable compression", portable);
  if (const vorneth::Sha1CompressFunction sha = vorneth::Sha1CompressShaInstructions()) {
    const double instructions = BestRate([&] {
                                  uint32_t state[5] = {1, 2, 3, 4, 5};
                                  sha(state, message.data(), message.size() / 64);
                                  g_sink = static_cast<uint8_t>(state[0]);
                                }) *
                                mb;
    std::printf("%-28s %12.0f\n", "  SHA-instruction compression", instructions);
  } else {
    std::printf("  (no SHA instructions on this CPU)\n");
  }
}

void BenchRsa(const std::vector<uint8_t>& data) {
  Signer signer;
  if (!Sign(data, signer)) {
    std::printf("RSA: cannot sign with %s\n", VORNETH_BENCH_PRIVATE_KEY);
    return;
  }
  const std::vector<uint8_t>& signature = signer.m_signature;
  const bool verifies =
      vorneth::SecurityValidator::ValidateSignature(data.data(), data.size(), signature.data(), signature.size());
  // OpenSSL's verification of the same signature, its context prepared
  // once as its own speed test does; both sides hash the short message.
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(signer.m_key, nullptr);
  EVP_PKEY_verify_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1());
  const Rates rates = BestRates(
      [&] {
        g_sink =
            vorneth::SecurityValidator::ValidateSignature(data.data(), data.size(), signature.data(), signature.size());
      },
      [&] {
        uint8_t digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha1(), nullptr);
        g_sink = EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest, length) == 1;
      });
  EVP_PKEY_CTX_free(ctx);
  Row("RSA-2048 verifications", rates.m_ours, rates.m_theirs, "per s", kRsaTarget);
  if (!verifies) std::printf("  (this build's key is not the development key: the signature does not verify)\n");
}

}  // namespace

int main() {
  std::mt19937 random(1);
  std::vector<uint8_t> message(kMessageSize);
  for (uint8_t& b : message) b = static_cast<uint8_t>(random());
  std::printf("%-28s %12s %12s %-8s %6s\n", "", "ours", "OpenSSL", "", "ratio");
  BenchSha1(message);
  BenchRsa(std::vector<uint8_t>(message.begin(), message.begin() + 64));
  return 0;
}
