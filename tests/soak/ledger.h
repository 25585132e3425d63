// What one host connection owes the soak driver, and what it paid.
//
// Every request that carries a callback id is owed exactly one answer;
// every message the traffic makes the host send without one (an add-on's
// event, its style and script after a creation, an installation's finish
// event) is owed exactly as often as it was caused. The ledger takes every
// frame the host writes and sorts it: an answer or message that was owed
// (and passes its check), one that was owed but is wrong, a duplicate (an
// answer to a callback id already answered, a message more often than it
// was caused), or an unexpected one (a callback id never sent, a message
// nothing caused, a frame that is not JSON or carries another port id).
// What is still owed when the driver stops waiting is missing.
//
// Callback ids are the decimal numbers 1, 2, 3... of this ledger, so a
// duplicate is told from a stranger without keeping every id answered.
//
// One object is used from one thread at a time (the thread that drives its
// host); nothing here blocks.
#ifndef VORNETH_TESTS_SOAK_LEDGER_H_
#define VORNETH_TESTS_SOAK_LEDGER_H_

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vorneth::soak {

// Judges an answer's "response": empty when it is right, otherwise why not.
// May keep what it needs from the answer (an add-on id, say).
using AnswerCheck = std::function<std::string(const Json::Value& response)>;

// A check that takes any answer.
std::string AnyAnswer(const Json::Value& response);
// A check that wants exactly `expected` (compared as JSON values).
AnswerCheck Equals(Json::Value expected);
// `value` as the host's compact JSON text.
std::string Compact(const Json::Value& value);
// `text` parsed as JSON; null for a damaged text (a fault of the driver).
Json::Value Parse(const std::string& text);

// The key under which a message without a callback id is owed: its "rtype",
// its "event" and its payload ("response", "css" or "js") as compact text.
std::string MessageKey(const std::string& rtype, const std::string& event, const std::string& payload);

struct LedgerCounts {
  uint64_t m_requests = 0;   // requests with a callback id
  uint64_t m_answers = 0;    // answers that were owed and right
  uint64_t m_messages = 0;   // messages that were owed or allowed
  uint64_t m_missing = 0;    // answers and messages owed but never sent
  uint64_t m_duplicate = 0;  // answers and messages sent once too often
  uint64_t m_unexpected = 0;
  uint64_t m_wrong = 0;  // owed answers or frames whose content is wrong

  uint64_t failures() const { return m_missing + m_duplicate + m_unexpected + m_wrong; }
  void Add(const LedgerCounts& other);
};

class Ledger {
 public:
  explicit Ledger(std::string port_id);

  // A fresh callback id, owed one answer of "rtype" `rtype` that `check`
  // accepts; `what` names the request in reports.
  std::string Expect(std::string what, std::string rtype, AnswerCheck check);
  // `count` more messages under `key` are owed.
  void ExpectMessage(const std::string& key, int count = 1);
  // Up to `count` messages under `key` may arrive but need not (ticks of an
  // instance whose session ends under it).
  void AllowMessage(const std::string& key, int count = 1);

  // Sorts one frame the host wrote.
  void Take(const std::string& frame);
  // Nothing is owed.
  bool settled() const { return m_pending.empty() && m_owedMessages.empty(); }
  // Counts everything still owed as missing (and reports it), then forgets it.
  void WriteOffMissing();

  const LedgerCounts& counts() const { return m_counts; }
  // What went wrong, in words, oldest first (at most kMaxProblems kept).
  const std::vector<std::string>& problems() const { return m_problems; }

 private:
  struct Pending {
    std::string m_what;
    std::string m_rtype;
    AnswerCheck m_check;
  };
  void TakeAnswer(const Json::Value& frame);
  void TakeMessage(const Json::Value& frame);
  void Problem(uint64_t& counter, const std::string& text);

  std::string m_portId;
  uint64_t m_lastId = 0;
  std::map<uint64_t, Pending> m_pending;
  std::map<std::string, int> m_owedMessages;     // key -> how many more
  std::map<std::string, int> m_allowedMessages;  // key -> how many more at most
  std::set<std::string> m_seenMessages;          // keys owed before, for telling duplicates
  LedgerCounts m_counts;
  std::vector<std::string> m_problems;
};

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_LEDGER_H_
