// The package checks: manifests and installed add-on folders, with
// signatures made by the crypto library under the development key.
#include "addons/package_verifier.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "addons/relative_name.h"
#include "addons/test_signing.h"
#include "json/json_conversions.h"
#include "net/request_maker.h"
#include "platform/data_directory.h"
#include "support/scratch_dir.h"

namespace vorneth::testing {
namespace {

using namespace std::string_literals;

constexpr char kSignatureSlot[] = R"("manifest_signature":")";

bool Valid(const std::string& text, const std::string& uuid, const std::string& version) {
  Json::Value manifest;
  (void)ParseJson(text, manifest);
  return IsManifestValid(text, manifest, uuid, version);
}

// Signs a manifest written with an empty "manifest_signature" and puts the
// digits between its quotes, as a packer does.
std::string Signed(std::string text, bool upperCase = false) {
  std::string signature = SignHex(text);
  EXPECT_EQ(signature.size(), 512u);
  if (upperCase) {
    for (char& c : signature) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const size_t slot = text.find(kSignatureSlot);
  EXPECT_NE(slot, std::string::npos);
  text.insert(slot + sizeof kSignatureSlot - 1, signature);
  return text;
}

TEST(ManifestCheckTest, UnsignedVersionNeedsOnlyTheExactIdentity) {
  const std::string text = R"({"manifest_version":1,"uuid":"{5F6E-a}","version":"1.0"})";
  EXPECT_TRUE(Valid(text, "{5F6E-a}", "1.0"));
  EXPECT_FALSE(Valid(text, "{5f6e-a}", "1.0"));
  EXPECT_FALSE(Valid(text, "{5F6E-A}", "1.0"));
  EXPECT_FALSE(Valid(text, "{5F6E-a}", "1.00"));
  EXPECT_FALSE(Valid(text, "{5F6E-a}", ""));
  // The library's integer conversion: a real is truncated, true is 1.
  EXPECT_TRUE(Valid(R"({"manifest_version":1.9,"uuid":"u","version":"v"})", "u", "v"));
  EXPECT_TRUE(Valid(R"({"manifest_version":true,"uuid":"u","version":"v"})", "u", "v"));
  // Any other version, or none, asks for a signature.
  EXPECT_FALSE(Valid(R"({"manifest_version":2,"uuid":"u","version":"v"})", "u", "v"));
  EXPECT_FALSE(Valid(R"({"uuid":"u","version":"v"})", "u", "v"));
}

TEST(ManifestCheckTest, SignatureCoversEveryByteButItsOwnDigits) {
  const std::string unsignedText =
      "{\"manifest_signature\":\"\", \"manifest_version\":2,\n \"uuid\":\"{a}\", \"version\":\"1.0\"}";
  const std::string text = Signed(unsignedText);
  EXPECT_TRUE(Valid(text, "{a}", "1.0"));
  EXPECT_TRUE(Valid(Signed(unsignedText, /*upperCase=*/true), "{a}", "1.0"));
  EXPECT_FALSE(Valid(text, "{A}", "1.0")) << "a valid signature does not excuse another identity";

  std::string tampered = text;
  tampered[tampered.find(", \"manifest_version") + 1] = '\t';
  EXPECT_FALSE(Valid(tampered, "{a}", "1.0")) << "white space outside the digits is signed";
  tampered = text;
  tampered.insert(tampered.size() - 1, " ");
  EXPECT_FALSE(Valid(tampered, "{a}", "1.0"));
  tampered = text;
  char& digit = tampered[tampered.find(kSignatureSlot) + sizeof kSignatureSlot + 10];
  digit = digit == '0' ? '1' : '0';
  EXPECT_FALSE(Valid(tampered, "{a}", "1.0"));
  EXPECT_FALSE(Valid(unsignedText, "{a}", "1.0"));

  // Signed without a version member: the default asks for the signature.
  EXPECT_TRUE(Valid(Signed(R"({"manifest_signature":"","uuid":"u","version":"v"})"), "u", "v"));
}

TEST(ManifestCheckTest, ValuesOfTheWrongTypeAreNotValid) {
  const std::string sig = R"("manifest_signature":"",)";
  const std::vector<std::string> texts = {
      R"({"manifest_version":"1","uuid":"u","version":"v"})",
      R"({"manifest_version":[1],"uuid":"u","version":"v"})",
      R"({"manifest_version":{"v":1},"uuid":"u","version":"v"})",
      R"({"manifest_version":1e20,"uuid":"u","version":"v"})",
      R"({"manifest_version":1,"uuid":5,"version":"v"})",
      R"({"manifest_version":1,"uuid":["u"],"version":"v"})",
      R"({"manifest_version":1,"uuid":"u","version":{"v":"v"}})",
      R"([{"manifest_version":1,"uuid":"u","version":"v"}])",
      R"("text")",
      R"(null)",
      "",
      Signed("{" + sig + R"("uuid":"u","version":7})"),
      Signed("{" + sig + R"("uuid":{"u":1},"version":"v"})"),
  };
  for (const std::string& text : texts) EXPECT_FALSE(Valid(text, "u", "v")) << text;
  Json::Value manifest;
  ASSERT_TRUE(ParseJson(R"({"manifest_signature":7,"uuid":"u","version":"v"})", manifest));
  EXPECT_FALSE(IsManifestValid("", manifest, "u", "v"));
}

TEST(ManifestCheckTest, TextOverTheLimitIsNotValid) {
  const std::string head = R"({"manifest_version":1,"uuid":"u","version":"v")";
  const std::string atLimit = head + std::string(kMaxManifestBytes - head.size() - 1, ' ') + "}";
  ASSERT_EQ(atLimit.size(), kMaxManifestBytes);
  EXPECT_TRUE(Valid(atLimit, "u", "v"));
  EXPECT_FALSE(Valid(head + std::string(kMaxManifestBytes - head.size(), ' ') + "}", "u", "v"));
}

// An add-on folder in a scratch folder, with an outside file beside it.
class AddOnFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.path().empty());
    std::filesystem::create_directories(m_scratch / "addon");
    Write(m_scratch / "outside.txt", "secret");
  }

  static void Write(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  std::string Folder() const { return (m_scratch / "addon") + kPathSeparator; }
  void WriteFile(const std::string& name, const std::string& content) const { Write(Folder() + name, content); }

  // Writes "signature.json" with `checksum` (JSON text, laid out freely) and
  // a signature over `signedText`, the canonical text the host must derive.
  void WriteList(const std::string& checksum, const std::string& signedText) const {
    WriteListText("{\n  \"checksum\" : " + checksum + ",\n  \"signature\" : \"" + SignHex(signedText) + "\"\n}\n");
  }
  void WriteListText(const std::string& text) const { Write(Folder() + "signature.json", text); }

  ScratchDir m_scratch;
};

TEST_F(AddOnFolderTest, IntactFilesPass) {
  const std::string binary = "lib\0\x01\xff"s;
  WriteFile("addon.so", binary);
  WriteFile("sub/my file.txt", "spaced");
  std::string upper = Sha1Hex("spaced");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The canonical text drops every space, also inside file names.
  WriteList(R"([ {"addon.so" : ")" + Sha1Hex(binary) + R"("}, {"sub/my file.txt": ")" + upper + R"("} ])",
            R"([{"addon.so":")" + Sha1Hex(binary) + R"("},{"sub/myfile.txt":")" + upper + R"("}])");
  EXPECT_TRUE(CheckAddOnSignature(Folder()));
}

TEST_F(AddOnFolderTest, ChangedOrRemovedFilesFail) {
  WriteFile("a.txt", "alpha");
  WriteFile("b.txt", "beta");
  const std::string list = R"([{"a.txt":")" + Sha1Hex("alpha") + R"("},{"b.txt":")" + Sha1Hex("beta") + R"("}])";
  WriteList(list, list);
  ASSERT_TRUE(CheckAddOnSignature(Folder()));
  WriteFile("b.txt", "betA");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  WriteFile("b.txt", "beta");
  ASSERT_TRUE(CheckAddOnSignature(Folder()));
  std::filesystem::remove(Folder() + "a.txt");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  // A missing file reads as empty content.
  const std::string empty = R"([{"a.txt":")" + Sha1Hex("") + R"("}])";
  WriteList(empty, empty);
  EXPECT_TRUE(CheckAddOnSignature(Folder()));
}

// Each listed name, with a digest that the file it would reach (the outside
// file, or nothing) really has, is signed: only the name rule refuses them.
TEST_F(AddOnFolderTest, NamesThatLeaveTheFolderFail) {
  WriteFile("sub/x.txt", "x");
  const std::string outside = Sha1Hex("secret");
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"../outside.txt", outside},
      {"sub/../../outside.txt", outside},
      {"..\\\\outside.txt", Sha1Hex("")},
      {(m_scratch / "outside.txt").substr(1), Sha1Hex("")},
      {m_scratch / "outside.txt", Sha1Hex("")},
      {"C:/outside.txt", Sha1Hex("")},
  };
  for (const auto& [name, digest] : entries) {
    const std::string list = R"([{")" + name + R"(":")" + digest + R"("}])";
    WriteList(list, list);
    EXPECT_EQ(CheckAddOnSignature(Folder()), name == entries[3].first) << name;
  }
}

TEST_F(AddOnFolderTest, TheListIsSignedInItsOrderAndJudgedByTheFirstMember) {
  WriteList("[]", "[]");
  EXPECT_TRUE(CheckAddOnSignature(Folder()));

  WriteFile("a.txt", "alpha");
  WriteFile("b.txt", "beta");
  const std::string a = R"({"a.txt":")" + Sha1Hex("alpha") + R"("})";
  const std::string b = R"({"b.txt":")" + Sha1Hex("beta") + R"("})";
  WriteList("[" + a + "," + b + "]", "[" + b + "," + a + "]");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));

  // Members are taken in sorted order: "a.txt" decides, "z.txt" is ignored.
  const std::string judged = R"([{"z.txt":"00","a.txt":")" + Sha1Hex("alpha") + R"("}])";
  WriteList(judged, R"([{"a.txt":")" + Sha1Hex("alpha") + R"(","z.txt":"00"}])");
  EXPECT_TRUE(CheckAddOnSignature(Folder()));
  const std::string wrongFirst = R"([{"z.txt":")" + Sha1Hex("alpha") + R"(","a.txt":"00"}])";
  WriteList(wrongFirst, R"([{"a.txt":"00","z.txt":")" + Sha1Hex("alpha") + R"("}])");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
}

TEST_F(AddOnFolderTest, ValuesOfTheWrongTypeFail) {
  WriteFile("a.txt", "alpha");
  const std::string digest = Sha1Hex("alpha");
  // Each list is signed over its own canonical text, so only its shape fails.
  const std::vector<std::string> lists = {
      R"({"a.txt":")" + digest + R"("})",
      R"(["a.txt"])",
      R"([{"a.txt":7}])",
      R"([{"a.txt":[")" + digest + R"("]}])",
      R"([{}])",
      R"([[]])",
      R"("[]")",
      R"(null)",
  };
  for (const std::string& list : lists) {
    WriteList(list, list);
    EXPECT_FALSE(CheckAddOnSignature(Folder())) << list;
  }
  WriteListText(R"({"checksum":[],"signature":7})");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  WriteListText(R"([{"checksum":[],"signature":")" + SignHex("[]") + R"("}])");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
}

TEST_F(AddOnFolderTest, MissingEmptyOrBrokenListsFail) {
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  WriteListText("");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  WriteListText("not json");
  EXPECT_FALSE(CheckAddOnSignature(Folder()));
  WriteListText(R"({"checksum":[],"signature":")" + SignHex("[]").substr(0, 510) + R"("})");
  EXPECT_FALSE(CheckAddOnSignature(Folder())) << "a signature one byte short";
  // What the reader kept before the damage is used.
  WriteListText(R"({"checksum":[],"signature":")" + SignHex("[]") + R"(" garbage)");
  EXPECT_TRUE(CheckAddOnSignature(Folder()));
}

TEST(PathNameTest, OnlyNamesThatStayInsideTheFolderPass) {
  for (const char* name : {"a", "a.txt", "sub/a.txt", "sub\\a", "..a", "a..", "a/..b/c", "./a", "a//b", "é.txt"}) {
    EXPECT_TRUE(IsContainedRelativeName(name)) << name;
  }
  for (const std::string& name : {""s, ".."s, "../a"s, "a/.."s, "a/../b"s, "a\\..\\b"s, "/a"s, "\\a"s, "C:a"s, "c:/a"s,
                                  "a\0b"s, "a\nb"s, "a\x7f"s}) {
    EXPECT_FALSE(IsContainedRelativeName(name)) << name;
  }
  for (const char* name : {"{5f6e}", "1.0", "..a", "a b", "é"}) {
    EXPECT_TRUE(RequestMaker::IsSafePathComponent(name)) << name;
  }
  for (const std::string& name : {""s, "."s, ".."s, "a/b"s, "a\\b"s, "/"s, "a\0"s, "\x01"s, "a\tb"s, "\x7f"s}) {
    EXPECT_FALSE(RequestMaker::IsSafePathComponent(name)) << name;
  }
}

}  // namespace
}  // namespace vorneth::testing
