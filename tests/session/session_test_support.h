// A page for in-process sessions: the host callback records every answer
// and can hold the dispatch worker that sends one, so that a test can keep a
// command running. Every wait is bounded by kDeadline.
#ifndef VORNETH_TESTS_SESSION_SESSION_TEST_SUPPORT_H_
#define VORNETH_TESTS_SESSION_SESSION_TEST_SUPPORT_H_

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "json/json_conversions.h"
#include "json/message_text.h"
#include "support/wait_until.h"

namespace vorneth::testing {

// An origin the session refuses: its page commands get ["Error", -3] except
// "GetVersion", and the session never reads the store.
inline constexpr const char kRefusedUrl[] = "";

class RecordingPage {
 public:
  // The host callback; `context` is the RecordingPage.
  static void Receive(MessageText message, void* context, int32_t /*instanceId*/) {
    auto& page = *static_cast<RecordingPage*>(context);
    std::unique_lock<std::mutex> lock(page.m_mutex);
    ++page.m_arrived;
    page.m_changed.notify_all();
    page.m_changed.wait_for(lock, kDeadline, [&] { return !page.m_holding; });
    page.m_answers.push_back(std::move(message).TakeText());
    page.m_changed.notify_all();
  }

  // While held, a sender waits inside the callback (at most kDeadline).
  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holding = hold;
    m_changed.notify_all();
  }
  // True once `count` callbacks have begun.
  bool WaitArrived(size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, kDeadline, [&] { return m_arrived >= count; });
  }
  // True once `count` answers have been recorded.
  bool WaitAnswers(size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, kDeadline, [&] { return m_answers.size() >= count; });
  }
  std::vector<std::string> Answers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answers;
  }
  // The "response" member of answer `index`, as compact JSON; "" if absent.
  std::string Response(size_t index) {
    const std::vector<std::string> answers = Answers();
    if (index >= answers.size()) return "";
    Json::Value answer;
    ParseJson(answers[index], answer);
    const Json::Value& response = Member(answer, "response");
    if (!response.isArray()) return response.toStyledString();
    std::string text = "[";
    for (Json::ArrayIndex i = 0; i < response.size(); ++i) {
      if (i > 0) text += ",";
      text += response[i].isString() ? "\"" + response[i].asString() + "\"" : response[i].toStyledString();
    }
    while (text.find('\n') != std::string::npos) text.erase(text.find('\n'), 1);
    return text + "]";
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_answers;
  size_t m_arrived = 0;
  bool m_holding = false;
};

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SESSION_SESSION_TEST_SUPPORT_H_
