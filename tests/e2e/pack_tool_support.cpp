#include "pack_tool_support.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <zip.h>

#include <cctype>
#include <chrono>
#include <memory>

#include "common/child_process.h"
#include "vorneth_public_key.h"

namespace vorneth::testing {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kGenerous{60000};

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::optional<std::string> ReadEntry(zip_t* archive, zip_uint64_t index, zip_uint64_t size) {
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen_index(archive, index, 0), zip_fclose);
  if (!file) return std::nullopt;
  std::string content(size, '\0');
  if (size > 0 && zip_fread(file.get(), content.data(), size) != static_cast<zip_int64_t>(size)) return std::nullopt;
  return content;
}

}  // namespace

ToolRun RunPackTool(const ScratchDir& scratch, const std::vector<std::string>& args,
                    const std::vector<std::pair<std::string, std::optional<std::string>>>& environment) {
  ToolRun run;
  ChildProcessOptions options;
  options.command = {kPackTool};
  options.command.insert(options.command.end(), args.begin(), args.end());
  options.stderr_path = scratch / "tool-stderr.txt";
  options.environment = environment;
  ChildProcess child;
  if (!child.Start(options)) {
    ADD_FAILURE() << child.error();
    return run;
  }
  child.CloseInput();
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  while (std::chrono::steady_clock::now() < deadline) {
    const ReadStatus status = child.Read(run.m_out, milliseconds(100));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  run.m_status = child.Wait(kGenerous);
  run.m_err = ReadBytes(options.stderr_path);
  std::filesystem::remove(options.stderr_path);
  return run;
}

std::optional<std::vector<PackedEntry>> ReadZip(const std::string& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (source == nullptr) return std::nullopt;
  std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);
    return std::nullopt;
  }
  std::vector<PackedEntry> entries;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_uint64_t index = 0; index < static_cast<zip_uint64_t>(count); ++index) {
    zip_stat_t stat;
    if (zip_stat_index(archive.get(), index, ZIP_FL_ENC_RAW, &stat) != 0) return std::nullopt;
    PackedEntry entry;
    entry.m_name = stat.name;
    entry.m_mtime = static_cast<int64_t>(stat.mtime);
    if (zip_file_get_external_attributes(archive.get(), index, 0, &entry.m_system, &entry.m_attributes) != 0) {
      return std::nullopt;
    }
    std::optional<std::string> content = ReadEntry(archive.get(), index, stat.size);
    if (!content) return std::nullopt;
    entry.m_content = std::move(*content);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> EntryNames(const std::vector<PackedEntry>& entries) {
  std::vector<std::string> names;
  for (const PackedEntry& entry : entries) names.push_back(entry.m_name);
  return names;
}

const PackedEntry* FindEntry(const std::vector<PackedEntry>& entries, std::string_view name) {
  for (const PackedEntry& entry : entries) {
    if (entry.m_name == name) return &entry;
  }
  return nullptr;
}

bool SignatureVerifies(const std::string& publicKeyPath, std::string_view data, const std::string& hex) {
  const std::string pem = ReadBytes(publicKeyPath);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
                                                          EVP_PKEY_free);
  if (!key || hex.size() % 2 != 0) return false;
  std::string signature;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const std::string pair = hex.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    signature += static_cast<char>(std::stoi(pair, nullptr, 16));
  }
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  return EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha1(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

bool BuiltWithDevelopmentKey() {
  const std::string pem = ReadBytes(kPublicKey);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
                                                          EVP_PKEY_free);
  BIGNUM* modulus = nullptr;
  if (!key || EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &modulus) != 1) return false;
  char* hex = BN_bn2hex(modulus);
  std::string text = hex;
  OPENSSL_free(hex);
  BN_free(modulus);
  for (char& digit : text) digit = static_cast<char>(std::tolower(static_cast<unsigned char>(digit)));
  return text == kPublicKeyModulusHex;
}

std::string Sha1LowerHex(std::string_view bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  std::string text;
  char pair[3];
  for (const unsigned char byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

}  // namespace vorneth::testing
