// The text of trace lines: the prefix, escaping, cutting, and each kind of
// value as the host passes it.
#include "trace_line.h"

#include <gtest/gtest.h>

#include <string>

namespace quenlog {
namespace {

using std::chrono::milliseconds;
using std::chrono::sys_days;

TEST(TraceLineTest, PrefixHasUtcTimeWithMillisecondsProcessThreadAndScope) {
  using namespace std::chrono;
  const auto time = sys_days{year{2026} / December / 8} + hours{3} + minutes{4} + seconds{5} + milliseconds{67};
  const LineOrigin origin{time_point_cast<system_clock::duration>(time), 4711, 4712};
  EXPECT_EQ(LinePrefix(origin, "Vorneth::main"), "2026-12-08 03:04:05.067Z p4711 t4712 Vorneth::main ");
  EXPECT_EQ(LinePrefix(origin, ""), "2026-12-08 03:04:05.067Z p4711 t4712 (no scope) ");
  // A scope name cannot break the line either.
  EXPECT_EQ(LinePrefix(origin, "a\nb"), "2026-12-08 03:04:05.067Z p4711 t4712 a\\nb ");
}

TEST(TraceLineTest, TextsAreQuotedWithNonPrintableBytesEscapedAndUtf8Kept) {
  EXPECT_EQ(QuotedText("plain"), "\"plain\"");
  EXPECT_EQ(QuotedText(std::string("a\nb\r\tc\\d\"e\x01\x7f", 12)), R"("a\nb\r\tc\\d\"e\x01\x7f")");
  EXPECT_EQ(QuotedText(std::string("nul\0end", 7)), R"("nul\x00end")");
  EXPECT_EQ(QuotedText("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  // Bytes that are no UTF-8: a stray continuation, a bad lead, a cut end.
  EXPECT_EQ(QuotedText("\x80x\xC0\xAFy\xE2\x82"), R"("\x80x\xc0\xafy\xe2\x82")");
}

TEST(TraceLineTest, LongValuesAreCutWithTheirWholeLength) {
  EXPECT_EQ(QuotedText(std::string(kMaxValueBytes, 'a')), "\"" + std::string(kMaxValueBytes, 'a') + "\"");
  const std::string cut = QuotedText(std::string(kMaxValueBytes + 1, 'a'));
  EXPECT_EQ(cut,
            "\"" + std::string(kMaxValueBytes, 'a') + "\"...[cut, " + std::to_string(kMaxValueBytes + 1) + " bytes]");
  // A sequence that would cross the limit is left out whole.
  EXPECT_EQ(QuotedText("ab\xC3\xA9", 3), "\"ab\"...[cut, 4 bytes]");
  EXPECT_EQ(PlainText(std::string(kMaxNameBytes + 5, 'n')), std::string(kMaxNameBytes, 'n') + "...");
}

TEST(TraceLineTest, BuffersByTypeDataTextsHiddenUnlessAskedFor) {
  const std::string secret = "{\"password\":\"hunter2\"}";
  EXPECT_EQ(BufferEvent("url.c_str ()", kTypeText, "https://a.example/", 18, false),
            "url.c_str () = \"https://a.example/\"");
  EXPECT_EQ(BufferEvent("inp", kTypeDataText, secret.data(), static_cast<uint32_t>(secret.size()), false),
            "inp = <data text, 22 bytes>");
  EXPECT_EQ(BufferEvent("inp", kTypeDataText, secret.data(), static_cast<uint32_t>(secret.size()), true),
            R"(inp = "{\"password\":\"hunter2\"}")");
  // A type the host does not use is not shown either way: it may be data.
  EXPECT_EQ(BufferEvent("blob", 7, "xyz", 3, true), "blob = <buffer, 3 bytes, type 7>");
  EXPECT_EQ(BufferEvent("empty", kTypeText, "", 0, false), "empty = \"\"");
  EXPECT_EQ(BufferEvent(nullptr, kTypeText, nullptr, 5, false), "(unnamed) = (null)");
}

TEST(TraceLineTest, NumbersPointersAndMessages) {
  EXPECT_EQ(NumberEvent("instanceId", kTypeNumber, -3), "instanceId = -3");
  EXPECT_EQ(NumberEvent("this", kTypePointer, static_cast<int32_t>(0xDEADBEEFu)), "this = 0xdeadbeef");
  EXPECT_EQ(NumberEvent("p", kTypePointer, 0x10), "p = 0x00000010");
  EXPECT_EQ(NumberEvent("odd", 5, 7), "odd = 7 (type 5)");
  EXPECT_EQ(MessageEvent("command received"), "message \"command received\"");
  EXPECT_EQ(MessageEvent(nullptr), "message (null)");
}

}  // namespace
}  // namespace quenlog
