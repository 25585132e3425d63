// The trace of the signature checks, recorded by the recording logging
// library: scopes, the messages around the digest and the result flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/openssl_oracle.h"
#include "security/security_validator.h"
#include "support/trace_recorder.h"
#include "vorneth_public_key.h"

namespace vorneth {
namespace {

using testing::Bytes;
using testing::ClearTraceRecords;
using testing::TraceRecord;
using testing::TraceRecords;

constexpr char kScope[] = "SecurityValidator::ValidateSignature";
constexpr char kFileScope[] = "SecurityValidator::ValidateFileSignature";

std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  for (const TraceRecord& r : TraceRecords()) {
    std::string line = r.kind + " " + r.scope;
    if (!r.name.empty()) line += " " + r.name + "=" + r.value;
    if (r.kind == "message") line += " " + r.value;
    lines.push_back(line);
  }
  return lines;
}

// The records of one full check whose result is `result`.
std::vector<std::string> FullCheck(int result) {
  const std::string s = kScope;
  return {"enter " + s,
          "message " + s + " SecurityValidator::ValidateSignature - sha1...",
          "message " + s + " SecurityValidator::ValidateSignature - sha1 hash...",
          "message " + s + " SecurityValidator::ValidateSignature - sha1 final",
          "number " + s + " signatureResult=" + std::to_string(result),
          "message " + s + " SecurityValidator::ValidateSignature - result",
          "leave " + s};
}

TEST(SecurityValidatorTrace, FullCheckLogsTheDigestStepsAndTheResult) {
  const Bytes data = {1, 2, 3};
  const Bytes zero(SecurityValidator::kSignatureSize, 0);  // below n, a wrong block
  ClearTraceRecords();
  EXPECT_FALSE(SecurityValidator::ValidateSignature(data.data(), data.size(), zero.data(), zero.size()));
  EXPECT_EQ(Lines(), FullCheck(0));

  const testing::DevelopmentKey key;
  ASSERT_TRUE(key.loaded());
  if (testing::ToHex(key.modulus()) != kPublicKeyModulusHex) GTEST_SKIP() << "built with another key";
  const std::string hex = testing::ToHex(key.Sign(data));
  ClearTraceRecords();
  EXPECT_TRUE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), hex));
  std::vector<std::string> expected = FullCheck(1);
  expected.insert(expected.begin(), std::string("enter ") + kFileScope);
  expected.push_back(std::string("leave ") + kFileScope);
  EXPECT_EQ(Lines(), expected);
}

TEST(SecurityValidatorTrace, RefusalsCloseTheirScopesWithoutHashing) {
  const Bytes data = {1, 2, 3};
  const Bytes zero(SecurityValidator::kSignatureSize, 0);
  const std::string s = kScope;
  ClearTraceRecords();
  EXPECT_FALSE(SecurityValidator::ValidateSignature(data.data(), 0, zero.data(), zero.size()));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"enter " + s, "leave " + s}));

  ClearTraceRecords();
  EXPECT_FALSE(SecurityValidator::ValidateFileSignature(data.data(), data.size(), "0G"));
  const std::string f = kFileScope;
  EXPECT_EQ(Lines(), (std::vector<std::string>{"enter " + f, "enter " + s, "leave " + s, "leave " + f}));

  ClearTraceRecords();
  EXPECT_FALSE(SecurityValidator::ValidateSignature(data.data(), data.size(), zero.data(), zero.size() - 1));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"enter " + s,
                                               "message " + s +
                                                   " SecurityValidator::ValidateSignature - "
                                                   "signature too short",
                                               "leave " + s}));
}

}  // namespace
}  // namespace vorneth
