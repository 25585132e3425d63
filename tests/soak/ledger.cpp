#include "ledger.h"

#include <charconv>
#include <utility>

#include "json/json_conversions.h"
#include "json/styled_writer.h"

namespace vorneth::soak {

namespace {

// Problems kept in words; the counts go on past it.
constexpr size_t kMaxProblems = 40;

// The callback id as this ledger's number; 0 (never given out) otherwise.
uint64_t IdNumber(const std::string& text) {
  uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() ? number : 0;
}

}  // namespace

std::string Compact(const Json::Value& value) {
  return StyledWriter().write(value);
}

std::string AnyAnswer(const Json::Value&) {
  return {};
}

AnswerCheck Equals(Json::Value expected) {
  return [expected = std::move(expected)](const Json::Value& response) {
    return response == expected ? std::string() : "wanted " + Compact(expected) + ", got " + Compact(response);
  };
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  if (!ParseJson(text, value)) return Json::Value();
  return value;
}

std::string MessageKey(const std::string& rtype, const std::string& event, const std::string& payload) {
  return rtype + " " + event + " " + payload;
}

void LedgerCounts::Add(const LedgerCounts& other) {
  m_requests += other.m_requests;
  m_answers += other.m_answers;
  m_messages += other.m_messages;
  m_missing += other.m_missing;
  m_duplicate += other.m_duplicate;
  m_unexpected += other.m_unexpected;
  m_wrong += other.m_wrong;
}

Ledger::Ledger(std::string port_id) : m_portId(std::move(port_id)) {}

std::string Ledger::Expect(std::string what, std::string rtype, AnswerCheck check) {
  const uint64_t id = ++m_lastId;
  m_pending[id] = Pending{std::move(what), std::move(rtype), std::move(check)};
  ++m_counts.m_requests;
  return std::to_string(id);
}

void Ledger::ExpectMessage(const std::string& key, int count) {
  m_owedMessages[key] += count;
  m_seenMessages.insert(key);
}

void Ledger::AllowMessage(const std::string& key, int count) {
  m_allowedMessages[key] += count;
}

void Ledger::Take(const std::string& text) {
  Json::Value frame;
  if (!ParseJson(text, frame) || !frame.isObject()) {
    Problem(m_counts.m_unexpected, "a frame that is not a JSON object: " + text.substr(0, 200));
    return;
  }
  const Json::Value& constFrame = frame;  // look-ups add no member
  if (constFrame["portId"] != m_portId) Problem(m_counts.m_wrong, "another port id: " + text.substr(0, 200));
  if (constFrame.isMember("callbackId")) {
    TakeAnswer(constFrame);
  } else {
    TakeMessage(constFrame);
  }
}

void Ledger::TakeAnswer(const Json::Value& frame) {
  const std::string id = frame["callbackId"].isString() ? frame["callbackId"].asString() : Compact(frame["callbackId"]);
  const uint64_t number = IdNumber(id);
  const auto pending = m_pending.find(number);
  if (pending == m_pending.end()) {
    if (number != 0 && number <= m_lastId) {
      Problem(m_counts.m_duplicate, "a second answer to " + id + ": " + Compact(frame).substr(0, 200));
    } else {
      Problem(m_counts.m_unexpected, "an answer to a callback id never sent: " + Compact(frame).substr(0, 200));
    }
    return;
  }
  std::string why;
  if (frame["rtype"] != pending->second.m_rtype) {
    why = "rtype " + Compact(frame["rtype"]);
  } else {
    why = pending->second.m_check(frame.get("response", Json::Value()));
  }
  if (why.empty()) {
    ++m_counts.m_answers;
  } else {
    Problem(m_counts.m_wrong, pending->second.m_what + " (" + id + "): " + why);
  }
  m_pending.erase(pending);
}

void Ledger::TakeMessage(const Json::Value& frame) {
  const std::string rtype = frame["rtype"].asString();
  std::string payload;
  if (rtype == "Vorneth-CSS") {
    payload = frame["css"].asString();
  } else if (rtype == "Vorneth-JS") {
    payload = frame["js"].asString();
  } else {
    payload = frame["response"].isString() ? frame["response"].asString() : Compact(frame["response"]);
  }
  const std::string key = MessageKey(rtype, frame["event"].asString(), payload);
  for (auto* book : {&m_owedMessages, &m_allowedMessages}) {
    const auto owed = book->find(key);
    if (owed == book->end()) continue;
    if (--owed->second == 0) book->erase(owed);
    ++m_counts.m_messages;
    return;
  }
  if (m_seenMessages.count(key) != 0) {
    Problem(m_counts.m_duplicate, "a message once too often: " + key.substr(0, 200));
  } else {
    Problem(m_counts.m_unexpected, "a message nothing caused: " + key.substr(0, 200));
  }
}

void Ledger::WriteOffMissing() {
  for (const auto& [id, pending] : m_pending) {
    Problem(m_counts.m_missing, "no answer to " + pending.m_what + " (" + std::to_string(id) + ")");
  }
  for (const auto& [key, count] : m_owedMessages) {
    m_counts.m_missing += count - 1;  // Problem counts one
    Problem(m_counts.m_missing, std::to_string(count) + " x missing message " + key.substr(0, 200));
  }
  m_pending.clear();
  m_owedMessages.clear();
}

void Ledger::Problem(uint64_t& counter, const std::string& text) {
  ++counter;
  if (m_problems.size() < kMaxProblems) m_problems.push_back(text);
}

}  // namespace vorneth::soak
