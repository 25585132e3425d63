// vorneth-pack keygen and sign, and the command line every command shares.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "pack_tool_support.h"

namespace vorneth::testing {
namespace {

using KeyPointer = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

KeyPointer LoadPem(const std::string& path, bool isPrivate) {
  const std::string pem = ReadBytes(path);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  EVP_PKEY* key = isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                            : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
  return KeyPointer(key, EVP_PKEY_free);
}

std::string SignWithTool(const ScratchDir& scratch, const std::string& key, const std::string& file) {
  const ToolRun run = RunPackTool(scratch, {"sign", "--key", key, file});
  EXPECT_EQ(run.m_status, 0) << run.m_err;
  EXPECT_EQ(run.m_out.size(), 513u);
  return run.m_out.substr(0, run.m_out.find('\n'));
}

TEST(VornethPackKeygen, WritesAMatchingRsa2048PairThePrivateHalfForItsOwnerOnly) {
  ScratchDir scratch;
  const std::string privatePath = scratch / "author.pem";
  const std::string publicPath = scratch / "author-public.pem";
  const ToolRun run = RunPackTool(scratch, {"keygen", privatePath, publicPath});
  ASSERT_EQ(run.m_status, 0) << run.m_err;

  struct stat info {};
  ASSERT_EQ(stat(privatePath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadBytes(publicPath).rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u);

  const KeyPointer privateKey = LoadPem(privatePath, true);
  const KeyPointer publicKey = LoadPem(publicPath, false);
  ASSERT_TRUE(privateKey && publicKey);
  EXPECT_EQ(EVP_PKEY_get_base_id(publicKey.get()), EVP_PKEY_RSA);
  EXPECT_EQ(EVP_PKEY_get_bits(publicKey.get()), 2048);
  BIGNUM* exponent = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(publicKey.get(), OSSL_PKEY_PARAM_RSA_E, &exponent), 1);
  EXPECT_EQ(BN_get_word(exponent), 65537u);
  BN_free(exponent);
  EXPECT_EQ(EVP_PKEY_eq(privateKey.get(), publicKey.get()), 1);

  // The new pair signs and verifies through the tool's own sign command.
  const std::string data = scratch / "data.bin";
  WriteBytes(data, "payload");
  EXPECT_TRUE(SignatureVerifies(publicPath, "payload", SignWithTool(scratch, privatePath, data)));
  EXPECT_FALSE(SignatureVerifies(kPublicKey, "payload", SignWithTool(scratch, privatePath, data)));
}

TEST(VornethPackKeygen, NeverOverwritesAndLeavesNothingHalfMade) {
  ScratchDir scratch;
  const std::string existing = scratch / "existing.pem";
  WriteBytes(existing, "keep me");

  // Private file exists: nothing is written, not even the public file.
  ToolRun run = RunPackTool(scratch, {"keygen", existing, scratch / "new-public.pem"});
  EXPECT_EQ(run.m_status, 1);
  EXPECT_NE(run.m_err.find(existing), std::string::npos) << run.m_err;
  EXPECT_EQ(ReadBytes(existing), "keep me");
  EXPECT_FALSE(std::filesystem::exists(scratch / "new-public.pem"));

  // Public file exists: no private file is left behind either.
  run = RunPackTool(scratch, {"keygen", scratch / "new-private.pem", existing});
  EXPECT_EQ(run.m_status, 1);
  EXPECT_EQ(ReadBytes(existing), "keep me");
  EXPECT_FALSE(std::filesystem::exists(scratch / "new-private.pem"));

  // A folder that does not exist.
  run = RunPackTool(scratch, {"keygen", scratch / "no/such/a.pem", scratch / "b.pem"});
  EXPECT_EQ(run.m_status, 1);
  EXPECT_FALSE(std::filesystem::exists(scratch / "b.pem"));

  EXPECT_EQ(RunPackTool(scratch, {"keygen", scratch / "only-one.pem"}).m_status, 2);
}

TEST(VornethPackSign, SignsTheFileBytesWithTheDevelopmentKey) {
  ScratchDir scratch;
  const std::string file = scratch / "bytes.bin";
  const std::string bytes("\0\x01\xff text\n", 9);
  WriteBytes(file, bytes);
  const std::string signature = SignWithTool(scratch, kPrivateKey, file);
  EXPECT_EQ(signature.find_first_not_of("0123456789abcdef"), std::string::npos) << signature;
  EXPECT_TRUE(SignatureVerifies(kPublicKey, bytes, signature));
  EXPECT_FALSE(SignatureVerifies(kPublicKey, bytes.substr(1), signature));

  EXPECT_EQ(RunPackTool(scratch, {"sign", "--key", kPrivateKey, scratch / "missing.bin"}).m_status, 1);
  EXPECT_EQ(RunPackTool(scratch, {"sign", file}).m_status, 2);
}

TEST(VornethPackKeys, RefusesKeysItCannotSignPackagesWith) {
  ScratchDir scratch;
  const std::string file = scratch / "bytes.bin";
  WriteBytes(file, "x");
  // An elliptic-curve key and a short RSA key, both valid PEM.
  const std::string ecPath = scratch / "ec.pem";
  const std::string shortPath = scratch / "short.pem";
  for (const auto& [path, key] : {std::pair{ecPath, EVP_EC_gen("P-256")}, std::pair{shortPath, EVP_RSA_gen(1024)}}) {
    ASSERT_NE(key, nullptr);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    ASSERT_EQ(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr), 1);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    WriteBytes(path, std::string_view(data, static_cast<size_t>(length)));
    EVP_PKEY_free(key);
  }
  const struct {
    std::string m_key;
    std::string m_complaint;
  } cases[] = {
      {scratch / "missing.pem", "no such file"},
      {kPublicKey, "not an unencrypted PEM private key"},
      {ecPath, "not an RSA private key"},
      {shortPath, "RSA-2048 only"},
  };
  for (const auto& bad : cases) {
    const ToolRun run = RunPackTool(scratch, {"sign", "--key", bad.m_key, file});
    EXPECT_EQ(run.m_status, 1) << bad.m_key;
    EXPECT_TRUE(run.m_out.empty());
    EXPECT_NE(run.m_err.find(bad.m_key), std::string::npos) << run.m_err;
    EXPECT_NE(run.m_err.find(bad.m_complaint), std::string::npos) << run.m_err;
  }
}

TEST(VornethPackCommandLine, HelpAndUsageErrors) {
  ScratchDir scratch;
  ToolRun run = RunPackTool(scratch, {"--help"});
  EXPECT_EQ(run.m_status, 0);
  for (const char* command : {"keygen", "pack", "sign"}) EXPECT_NE(run.m_out.find(command), std::string::npos);
  EXPECT_EQ(RunPackTool(scratch, {"pack", "--help"}).m_status, 0);

  const std::vector<std::vector<std::string>> usageErrors = {
      {},
      {"frobnicate"},
      {"sign", "--key"},
      {"sign", "--key", kPrivateKey, "--key", kPrivateKey, "f"},
      {"sign", "--colour", "red", "--key", kPrivateKey, "f"},
  };
  for (const auto& args : usageErrors) {
    run = RunPackTool(scratch, args);
    EXPECT_EQ(run.m_status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(run.m_err.empty());
  }
}

}  // namespace
}  // namespace vorneth::testing
