// FrameChecker: what the fuzz targets put where the host's standard output
// would be. Its Write is a FrameOutput::WriteFunction (host/message_output.h)
// and checks every frame the host hands over:
//   - each write holds whole frames, the 4-byte little-endian length of each
//     exactly the length of the text that follows;
//   - the text is at most kMaxBrowserMessage bytes, never of a length the
//     padding rule avoids (NeedsPadding), and parses strictly (no comments,
//     no duplicate member, nothing after the value) as a JSON object whose
//     "portId" is a string.
// A frame that breaks one of these prints what it was and aborts, which
// libFuzzer reports as a crash with the input saved.
//
// It also counts the page commands' answers (frames with "rtype" "Vorneth"
// and a "callbackId") so that a target can wait for an input's commands, and
// keeps the parsed frames for a target that asks for them.
//
// Thread safety: Write may be called from any thread (FrameOutput calls it
// under its own lock, from the main thread and the dispatch workers); the
// other members too. m_lock guards everything.
#ifndef VORNETH_FUZZ_FRAME_CHECKER_H_
#define VORNETH_FUZZ_FRAME_CHECKER_H_

#include <json/reader.h>
#include <json/value.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/message_output.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/thread_annotations.h"

namespace vorneth::fuzzing {

// Prints `what` (and `detail`, shortened) and aborts.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "fuzz: %s %.2000s\n", what, detail.c_str());
  std::abort();
}

class FrameChecker {
 public:
  FrameChecker() {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    m_reader.reset(builder.newCharReader());
  }

  // The write function: checks the frames and takes them as written.
  Status Write(const char* data, size_t size) EXCLUDES(m_lock) {
    MutexLock lock(&m_lock);
    size_t at = 0;
    while (at < size) {
      if (size - at < 4) Fail("a write ends inside a frame's length");
      uint32_t length = 0;
      for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(data[at + i]);
      at += 4;
      if (length > kMaxBrowserMessage) Fail("a frame longer than the browser takes:", std::to_string(length));
      if (length > size - at) Fail("a write ends inside a frame's text");
      CheckText(data + at, length);
      at += length;
    }
    m_changed.SignalAll();
    return Status::Ok();
  }

  // Page command answers written so far.
  int64_t answers() const EXCLUDES(m_lock) {
    MutexLock lock(&m_lock);
    return m_answers;
  }

  // Waits until at least `count` answers were written, at most `limit`.
  // False when they did not come in time.
  bool WaitForAnswers(int64_t count, std::chrono::milliseconds limit) EXCLUDES(m_lock) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    MutexLock lock(&m_lock);
    while (m_answers < count) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      m_changed.WaitFor(&m_lock, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                     std::chrono::milliseconds(1));
    }
    return true;
  }

  // From now on, parsed frames are kept for TakeFrames.
  void KeepFrames() EXCLUDES(m_lock) {
    MutexLock lock(&m_lock);
    m_keep = true;
  }
  std::vector<Json::Value> TakeFrames() EXCLUDES(m_lock) {
    MutexLock lock(&m_lock);
    return std::exchange(m_frames, {});
  }

 private:
  void CheckText(const char* text, size_t length) REQUIRES(m_lock) {
    const std::string shown(text, length);
    if (NeedsPadding(length)) Fail("a frame of a length the padding should have changed:", shown);
    Json::Value value;
    std::string errors;
    if (!m_reader->parse(text, text + length, &value, &errors)) Fail("a frame that is not strict JSON:", shown);
    if (!value.isObject()) Fail("a frame that is not a JSON object:", shown);
    if (!value["portId"].isString()) Fail("a frame without a text \"portId\":", shown);
    if (value["rtype"] == "Vorneth" && value.isMember("callbackId")) ++m_answers;
    if (m_keep) m_frames.push_back(std::move(value));
  }

  mutable Mutex m_lock;
  CondVar m_changed{&m_lock};
  std::unique_ptr<Json::CharReader> m_reader GUARDED_BY(m_lock);
  int64_t m_answers GUARDED_BY(m_lock) = 0;
  bool m_keep GUARDED_BY(m_lock) = false;
  std::vector<Json::Value> m_frames GUARDED_BY(m_lock);
};

}  // namespace vorneth::fuzzing

#endif  // VORNETH_FUZZ_FRAME_CHECKER_H_
