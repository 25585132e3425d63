#include "resource_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "sanitizer_threads.h"
#include "support/file_bytes.h"
#include "support/scratch_dir.h"

namespace vorneth::soak {
namespace {

ProcessStats Level(uint64_t rssKib, uint64_t threads = 10, uint64_t descriptors = 20) {
  return ProcessStats{rssKib, threads, descriptors};
}

// The verdict and what it printed.
struct Verdict {
  bool m_flat;
  std::string m_text;
};

Verdict Judge(const ResourceTable& table) {
  const std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
  Verdict verdict{table.Verdict(out.get()), std::string()};
  std::rewind(out.get());
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, out.get()) != nullptr) verdict.m_text += buffer;
  return verdict;
}

// A minute's level is its highest sample; the last minute is held to the
// second, whatever the first (warm-up) was.
TEST(ResourceTableTest, HoldsTheLastMinuteToTheSecond) {
  ResourceTable table({"page-1"});
  table.Add(0, 0, Level(50'000));
  table.Add(0, 1, Level(90'000));
  table.Add(0, 1, Level(100'000));
  table.Add(0, 2, Level(104'000));
  table.Add(0, 3, Level(60'000));
  table.Add(0, 3, Level(104'900));
  const Verdict flat = Judge(table);
  EXPECT_TRUE(flat.m_flat) << flat.m_text;
  EXPECT_NE(flat.m_text.find("minute 2   100000, last minute   104900"), std::string::npos) << flat.m_text;

  table.Add(0, 3, Level(105'100));
  const Verdict grown = Judge(table);
  EXPECT_FALSE(grown.m_flat) << grown.m_text;
  EXPECT_NE(grown.m_text.find("GROWN"), std::string::npos) << grown.m_text;
}

// Counts get an absolute slack beside the share; past it they have grown.
TEST(ResourceTableTest, ThreadsAndDescriptorsHaveTheirSlack) {
  ResourceTable table({"page-1"});
  table.Add(0, 1, Level(1'000, 10, 20));
  table.Add(0, 2, Level(1'000, 10 + kThreadSlack, 20 + kDescriptorSlack + 1));
  EXPECT_TRUE(Judge(table).m_flat);
  table.Add(0, 2, Level(1'000, 10 + kThreadSlack + 1, 20));
  EXPECT_FALSE(Judge(table).m_flat);
}

// A one-minute run compares its only minute with itself; a host without a
// sample in the compared minutes fails.
TEST(ResourceTableTest, ShortRunsAndMissingSamples) {
  ResourceTable single({"page-1"});
  single.Add(0, 0, Level(1'000));
  EXPECT_TRUE(Judge(single).m_flat);

  ResourceTable missing({"page-1", "page-2"});
  missing.Add(0, 1, Level(1'000));
  missing.Add(0, 2, Level(1'000));
  missing.Add(1, 2, Level(1'000));
  const Verdict verdict = Judge(missing);
  EXPECT_FALSE(verdict.m_flat);
  EXPECT_NE(verdict.m_text.find("page-2: no samples in minute 2"), std::string::npos) << verdict.m_text;
}

// Under the address sanitizer, the records of the threads started between
// the compared minutes are allowed on top of the share, and nothing more.
TEST(ResourceTableTest, ResidentMemoryLessTheSanitizersThreadRecords) {
  ResourceTable table({"page-1"});
  table.Add(0, 1, Level(100'000), 1'000);
  // 6,000 threads more: 1,007 KiB of records.
  table.Add(0, 2, Level(105'000 + 1'007), 7'000);
  const Verdict flat = Judge(table);
  EXPECT_TRUE(flat.m_flat) << flat.m_text;
  EXPECT_NE(flat.m_text.find("started 6000 threads"), std::string::npos) << flat.m_text;

  table.Add(0, 2, Level(105'000 + 1'008), 7'000);
  EXPECT_FALSE(Judge(table).m_flat);
}

// The counter reads the thread lines of a growing standard-error file: the
// highest number plus one, lines still being written left for later, and
// every other line (a report naming a thread included) passed over.
TEST(SanitizerThreadCounterTest, CountsStartedThreadsAsTheFileGrows) {
  EXPECT_EQ(StartedThreadNumber("==12==T0: stack [0x7ffe,0x7fff) size 0x800000; local=0x7ffe"), 0);
  EXPECT_EQ(StartedThreadNumber("==12==T4711: stack [0x7f00,0x7f01) size 0x7fef00; local=0x7f00"), 4711);
  EXPECT_EQ(StartedThreadNumber("==12==T5 exited"), -1);
  EXPECT_EQ(StartedThreadNumber("==12==T5 TSDDtor"), -1);
  EXPECT_EQ(StartedThreadNumber("Thread T5 created by T0 here: stack"), -1);
  EXPECT_EQ(StartedThreadNumber("==12==T: stack "), -1);

  vorneth::testing::ScratchDir scratch;
  const std::string path = scratch / "host.stderr";
  SanitizerThreadCounter counter(path);
  EXPECT_EQ(counter.Update(), 0u);  // no file yet
  std::ofstream out(path, std::ios::binary);
  out << "==9==AddressSanitizer: libc interceptors initialized\n==9==T0: stack [0x1,0x2) size 0x1\n"
      << "==9==T1: stack [0x1,0x2) size 0x1\n==9==T1 exited\n==9==T2: sta" << std::flush;
  EXPECT_EQ(counter.Update(), 2u);
  out << "ck [0x1,0x2) size 0x1\n==9==T3 exited\n" << std::flush;
  EXPECT_EQ(counter.Update(), 3u);
  EXPECT_EQ(counter.Update(), 3u);
}

// Reading fails part way for a /proc file of a process that ends
// meanwhile, as it does at once for a folder: the driver's readers give
// nothing then, and throw nothing (the stream buffer's exception ended a
// soak run once).
TEST(SanitizerThreadCounterTest, FilesThatFailToReadGiveNothing) {
  vorneth::testing::ScratchDir scratch;
  EXPECT_EQ(vorneth::testing::ReadBytes(scratch.path()), "");
  SanitizerThreadCounter counter(scratch.path());
  EXPECT_EQ(counter.Update(), 0u);
}

}  // namespace
}  // namespace vorneth::soak
