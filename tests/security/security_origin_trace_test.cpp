// Runs with the recording logging library loaded, so every trace call of the
// code under test becomes a record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/security_origin.h"
#include "support/trace_recorder.h"

namespace vorneth {
namespace {

using testing::ClearTraceRecords;
using testing::TraceRecord;
using testing::TraceRecords;

// "kind scope name=value" per record, for whole-sequence comparison.
std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  for (const TraceRecord& r : TraceRecords()) {
    std::string line = r.kind + " " + r.scope;
    if (!r.name.empty()) line += " " + r.name + "=" + r.value;
    lines.push_back(line);
  }
  return lines;
}

TEST(SecurityOriginTrace, InitFromUrlNestsInitWithItsPort) {
  ClearTraceRecords();
  SecurityOrigin origin;
  ASSERT_TRUE(origin.InitFromUrl("HTTPS://Host.TEST:8443/x"));
  const std::vector<std::string> expected = {
      "enter SecurityOrigin::InitFromUrl", "enter SecurityOrigin::Init",        "number SecurityOrigin::Init port=8443",
      "leave SecurityOrigin::Init",        "leave SecurityOrigin::InitFromUrl",
  };
  EXPECT_EQ(Lines(), expected);

  ClearTraceRecords();
  ASSERT_TRUE(origin.InitFromUrl("file:///x"));
  const std::vector<std::string> file_expected = {
      "enter SecurityOrigin::InitFromUrl", "enter SecurityOrigin::Init",        "number SecurityOrigin::Init port=0",
      "leave SecurityOrigin::Init",        "leave SecurityOrigin::InitFromUrl",
  };
  EXPECT_EQ(Lines(), file_expected);
}

TEST(SecurityOriginTrace, RefusalsCloseTheirScope) {
  ClearTraceRecords();
  SecurityOrigin origin;
  EXPECT_FALSE(origin.InitFromUrl("https://user@host/"));
  const std::vector<std::string> refused = {
      "enter SecurityOrigin::InitFromUrl",
      "leave SecurityOrigin::InitFromUrl",
  };
  EXPECT_EQ(Lines(), refused);

  ClearTraceRecords();
  EXPECT_FALSE(origin.Init("", "http", "h", -7));
  const std::vector<std::string> init_refused = {
      "enter SecurityOrigin::Init",
      "number SecurityOrigin::Init port=-7",
      "leave SecurityOrigin::Init",
  };
  EXPECT_EQ(Lines(), init_refused);
}

}  // namespace
}  // namespace vorneth
