// The soak driver's ledger: every kind of fault it must tell apart, since a
// ledger that miscounts would let a soak run pass over lost or doubled
// answers.
#include "ledger.h"

#include <gtest/gtest.h>

#include <string>

namespace vorneth::soak {
namespace {

std::string Answer(const std::string& id, const std::string& response, const std::string& rtype = "Vorneth",
                   const std::string& port = "p") {
  return R"({"callbackId":")" + id + R"(","instanceId":0,"portId":")" + port + R"(","response":)" + response +
         R"(,"rtype":")" + rtype + R"("})";
}

std::string Event(const std::string& name, const std::string& data) {
  return R"({"event":")" + name + R"(","instanceId":0,"portId":"p","response":")" + data + R"(","rtype":"Vorneth-E"})";
}

TEST(SoakLedgerTest, CountsEachAnswerOnceAndTellsDuplicatesStrangersAndMissingApart) {
  Ledger ledger("p");
  const std::string first = ledger.Expect("first", "Vorneth", Equals(Parse("[true]")));
  const std::string second = ledger.Expect("second", "Vorneth-I", AnyAnswer);
  const std::string third = ledger.Expect("third", "Vorneth", AnyAnswer);
  EXPECT_NE(first, second);
  EXPECT_FALSE(ledger.settled());

  ledger.Take(Answer(second, "\"2.15.0.0\"", "Vorneth-I"));
  ledger.Take(Answer(first, "[true]"));
  ledger.Take(Answer(first, "[true]"));  // once too often
  ledger.Take(Answer("999", "[true]"));  // never sent
  ledger.Take(Answer("x", "[true]"));
  EXPECT_EQ(ledger.counts().m_answers, 2u);
  EXPECT_EQ(ledger.counts().m_duplicate, 1u);
  EXPECT_EQ(ledger.counts().m_unexpected, 2u);
  EXPECT_FALSE(ledger.settled()) << "the third is still owed";

  ledger.WriteOffMissing();
  EXPECT_TRUE(ledger.settled());
  EXPECT_EQ(ledger.counts().m_missing, 1u);
  EXPECT_EQ(ledger.counts().m_requests, 3u);
  EXPECT_EQ(ledger.counts().failures(), 4u);
  ASSERT_EQ(ledger.problems().size(), 4u);
  EXPECT_NE(ledger.problems().back().find("third"), std::string::npos) << ledger.problems().back();
  // An answer that comes after it was written off is no longer owed.
  ledger.Take(Answer(third, "[1]"));
  EXPECT_EQ(ledger.counts().m_duplicate, 2u);
}

TEST(SoakLedgerTest, JudgesWhatAnAnswerHoldsAndWhatEveryFrameCarries) {
  Ledger ledger("p");
  ledger.Take(Answer(ledger.Expect("value", "Vorneth", Equals(Parse("[200]"))), R"(["Error",-1])"));
  ledger.Take(Answer(ledger.Expect("rtype", "Vorneth-I", AnyAnswer), "0", "Vorneth"));
  ledger.Take(Answer(ledger.Expect("port", "Vorneth", AnyAnswer), "0", "Vorneth", "other"));
  EXPECT_EQ(ledger.counts().m_wrong, 3u);
  EXPECT_EQ(ledger.counts().m_answers, 1u) << "the answer on another port is otherwise right";
  ledger.Take("not json");
  ledger.Take("[1,2]");
  EXPECT_EQ(ledger.counts().m_unexpected, 2u);
  EXPECT_TRUE(ledger.settled());
}

TEST(SoakLedgerTest, OwesMessagesByCountAndAllowsOthersWithoutOwingThem) {
  Ledger ledger("p");
  ledger.ExpectMessage(MessageKey("Vorneth-E", "tick", "1"), 2);
  ledger.ExpectMessage(MessageKey("Vorneth-CSS", "", ".a{}"));
  ledger.AllowMessage(MessageKey("Vorneth-E", "tick", "left"), 1);
  ledger.Take(Event("tick", "1"));
  ledger.Take(R"({"css":".a{}","instanceId":0,"portId":"p","rtype":"Vorneth-CSS"})");
  EXPECT_FALSE(ledger.settled()) << "one tick of two";
  ledger.Take(Event("tick", "1"));
  EXPECT_TRUE(ledger.settled()) << "an allowed message is not owed";
  ledger.Take(Event("tick", "1"));     // a third time
  ledger.Take(Event("tick", "left"));  // allowed once
  ledger.Take(Event("tick", "left"));
  ledger.Take(Event("other", "1"));
  EXPECT_EQ(ledger.counts().m_messages, 4u);
  EXPECT_EQ(ledger.counts().m_duplicate, 1u);
  EXPECT_EQ(ledger.counts().m_unexpected, 2u);

  ledger.ExpectMessage(MessageKey("Vorneth-E", "tick", "2"), 3);
  ledger.WriteOffMissing();
  EXPECT_EQ(ledger.counts().m_missing, 3u) << "each message owed counts";
}

}  // namespace
}  // namespace vorneth::soak
