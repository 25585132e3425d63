// The trace facility against the recording library, which this executable
// links and so has loaded before the first trace call.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "trace_recorder.h"
#include "trace_recorder_prepare.h"

namespace vorneth {
namespace {

using testing::TraceRecord;

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TraceLoad(), TraceState::kOn);
    testing::ClearTraceRecords();
  }
};

// The records made in `scope`, so that each test looks only at its own.
std::vector<TraceRecord> RecordsOf(const std::string& scope) {
  std::vector<TraceRecord> out;
  for (TraceRecord& record : testing::TraceRecords()) {
    if (record.scope == scope) out.push_back(std::move(record));
  }
  return out;
}

void ExpectRecord(const TraceRecord& record, const std::string& kind, const std::string& name,
                  const std::string& value) {
  EXPECT_EQ(record.kind, kind);
  EXPECT_EQ(record.name, name);
  EXPECT_EQ(record.value, value);
}

TEST_F(TraceTest, ScopeRecordsEveryValueKindInCallOrder) {
  int marker = 0;
  {
    TraceFunction trace("TraceTest::Scope");
    EXPECT_NE(trace.handle(), 0);
    trace.Text("uuid.c_str()", "1234-abcd");
    trace.DataText("params", "[\"a\",1]");
    trace.Number("count", -42);
    trace.Pointer("&marker", &marker);
    trace.Message("scope body ran");
    trace.SetResult(17);
  }
  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Scope");
  ASSERT_EQ(records.size(), 7u);
  ExpectRecord(records[0], "enter", "", "");
  ExpectRecord(records[1], "text", "uuid.c_str()", "1234-abcd");
  ExpectRecord(records[2], "data", "params", "[\"a\",1]");
  ExpectRecord(records[3], "number", "count", "-42");
  const auto low_bits = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&marker));
  ExpectRecord(records[4], "pointer", "&marker", std::to_string(low_bits));
  ExpectRecord(records[5], "message", "", "scope body ran");
  ExpectRecord(records[6], "leave", "", "17");
}

TEST_F(TraceTest, ScopeIsOpenedUnderTheModuleNameWithZeroArguments) {
  { TraceFunction trace("TraceTest::Module"); }
  const std::vector<testing::TracePrepareCall> calls = testing::TracePrepareCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].first, 0);
  EXPECT_EQ(calls[0].module, "Vorneth");
  EXPECT_EQ(calls[0].scope, "TraceTest::Module");
  EXPECT_EQ(calls[0].last, 0);
}

TEST_F(TraceTest, TextsArePassedWithTheirByteLength) {
  const intptr_t handle = TracePrepare("TraceTest::Lengths");
  const std::string with_nuls("a\0b\0", 4);
  TraceText(handle, "with_nuls", with_nuls);
  TraceDataText(handle, "data_with_nuls", with_nuls);
  TraceText(handle, "empty", "");
  TraceText(handle, "prefix", std::string_view("abcdef", 3));
  TraceDataText(handle, "utf8", "\xC3\xA9t\xC3\xA9");
  TraceLeave(handle, 0);

  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Lengths");
  ASSERT_EQ(records.size(), 6u);
  ExpectRecord(records[0], "text", "with_nuls", with_nuls);
  EXPECT_EQ(records[0].value.size(), 4u);
  ExpectRecord(records[1], "data", "data_with_nuls", with_nuls);
  ExpectRecord(records[2], "text", "empty", "");
  ExpectRecord(records[3], "text", "prefix", "abc");
  ExpectRecord(records[4], "data", "utf8", "\xC3\xA9t\xC3\xA9");
}

TEST_F(TraceTest, NumbersKeepTheirSignAndRange) {
  const intptr_t handle = TracePrepare("TraceTest::Numbers");
  TraceNumber(handle, "min", INT32_MIN);
  TraceNumber(handle, "max", INT32_MAX);
  TracePointer(handle, "null", nullptr);
  TraceLeave(handle, 0);
  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Numbers");
  ASSERT_EQ(records.size(), 4u);
  ExpectRecord(records[0], "number", "min", "-2147483648");
  ExpectRecord(records[1], "number", "max", "2147483647");
  ExpectRecord(records[2], "pointer", "null", "0");
}

TEST_F(TraceTest, LeaveReturnsWhatTheLibraryReturns) {
  const intptr_t handle = TracePrepare("TraceTest::Leave");
  ASSERT_NE(handle, 0);
  EXPECT_EQ(TraceLeave(handle, -5), -5);
  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Leave");
  ASSERT_EQ(records.size(), 1u);
  ExpectRecord(records[0], "leave", "", "-5");
}

TEST_F(TraceTest, LeaveWithHandleZeroNeverReachesTheLibrary) {
  EXPECT_EQ(TraceLeave(0, 123), 123);
  EXPECT_EQ(TraceLeave(0, INT32_MIN), INT32_MIN);
  EXPECT_TRUE(testing::TraceRecords().empty());
}

TEST_F(TraceTest, ScopeGuardLeavesWithTheResultHeldAtItsEnd) {
  const intptr_t handle = TracePrepare("TraceTest::Guard");
  int32_t result = 1;
  {
    TraceScope guard(handle, result);
    result = 42;
  }
  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Guard");
  ASSERT_EQ(records.size(), 1u);
  ExpectRecord(records[0], "leave", "", "42");
}

TEST_F(TraceTest, ScopeIsLeftWhenAnExceptionPassesThrough) {
  EXPECT_THROW(
      {
        TraceFunction trace("TraceTest::Throws");
        trace.SetResult(-3);
        throw std::runtime_error("out");
      },
      std::runtime_error);
  const std::vector<TraceRecord> records = RecordsOf("TraceTest::Throws");
  ASSERT_EQ(records.size(), 2u);
  ExpectRecord(records[0], "enter", "", "");
  ExpectRecord(records[1], "leave", "", "-3");
}

TEST_F(TraceTest, NestedScopesRecordUnderTheirOwnNames) {
  {
    TraceFunction outer("TraceTest::Outer");
    outer.Number("before", 1);
    {
      TraceFunction inner("TraceTest::Outer inner part");
      EXPECT_NE(inner.handle(), outer.handle());
      inner.Message("inside");
    }
    outer.Number("after", 2);
  }
  const std::vector<TraceRecord> outer = RecordsOf("TraceTest::Outer");
  ASSERT_EQ(outer.size(), 4u);
  ExpectRecord(outer[1], "number", "before", "1");
  ExpectRecord(outer[2], "number", "after", "2");
  const std::vector<TraceRecord> inner = RecordsOf("TraceTest::Outer inner part");
  ASSERT_EQ(inner.size(), 3u);
  ExpectRecord(inner[1], "message", "", "inside");
  EXPECT_TRUE(testing::TraceHasMessage("inside", "TraceTest::Outer inner part"));
  EXPECT_FALSE(testing::TraceHasMessage("inside", "TraceTest::Outer"));
}

// The recording library reports level 0, so messages pass.
TEST_F(TraceTest, LevelComesFromTheLibrary) {
  EXPECT_EQ(TraceLevel(), 0);
  const intptr_t handle = TracePrepare("TraceTest::Level");
  TraceOutput(handle, "first");
  TraceOutput(handle, "first");
  TraceLeave(handle, 0);
  EXPECT_EQ(testing::TraceCountMessage("first"), 2u);
}

}  // namespace
}  // namespace vorneth
