// EventCallback as an add-on calls it: each input is a list of calls made on
// a long-lived session, whose FrameOutput writes into a FrameChecker
// (frame_checker.h): every frame checked for its length prefix and strict
// JSON object. The calls come from libFuzzer's thread, which to the session
// is what an add-on's thread is: none of its own, holding none of its locks,
// outside any postponement of output.
//
// Calls (FuzzedDataProvider picks each and its texts): SetSecureData with a
// fuzzed text; GetSecureData, AckSetSecureData and AckGetSecureData with a
// handle the session gave out or a fuzzed handle text; GetDomain;
// LockDllDirectory and UnlockDllDirectory (kept paired: an add-on that takes
// the lock twice waits for itself); an event with a fuzzed name and data, or
// a null name or data.
//
// Checked besides the frames: a handle is the decimal index of its text
// among those stored; GetSecureData gives back the text stored under the
// handle until AckGetSecureData releases it, and null after; GetDomain
// gives the session's domain; every event is written at once as one frame
// {"event": name, "response": data, "rtype": "Vorneth-E"}, and a request
// writes none.
// At the end of each input the target releases every handle and text it
// was given (as an add-on must), so nothing grows; the session is made
// anew every kInputsPerSession inputs, since its handle table keeps a slot
// per handle ever given out.
//
// Left out: several add-on threads at once (the concurrency tests cover
// the locks); add-on instances (the session has none); events longer than
// the browser takes: a megabyte written per input would cost a hundred
// ordinary inputs, and their replacement is the output's, which its own
// tests check.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame_checker.h"
#include "host/message_output.h"
#include "host_environment.h"
#include "platform/mutex.h"
#include "session/vorneth.h"

namespace {

using vorneth::fuzzing::Fail;

constexpr char kOrigin[] = "https://fuzz.example/page";
constexpr int kInputsPerSession = 4096;

enum Call : uint8_t {
  kSet,
  kGetKnown,
  kGetFuzzed,
  kAckSetKnown,
  kAckSetFuzzed,
  kAckGetKnown,
  kAckGetFuzzed,
  kGetDomain,
  kDllLock,
  kEvent,
  kEventNulls,
  kMaxValue = kEventNulls  // the name FuzzedDataProvider::ConsumeEnum takes
};

// One stored text as the add-on knows it.
struct Stored {
  std::string m_handle;
  std::optional<std::string> m_text;  // none once released by AckGetSecureData
};

class EventHarness {
 public:
  EventHarness() : m_output([this](const char* data, size_t size) { return m_checker.Write(data, size); }) {
    m_checker.KeepFrames();
    NewSession();
  }

  void Run(const uint8_t* data, size_t size) {
    if (++m_inputs % kInputsPerSession == 0) NewSession();
    Calls(data, size);
  }

 private:
  void NewSession() {
    m_session.reset();
    m_session = std::make_unique<vorneth::Vorneth>(kOrigin, 0, &vorneth::Callback, &m_output, "1.0.0");
    m_stored.clear();
    const char* domain = vorneth::EventCallback(m_session.get(), "GetDomain", nullptr);
    if (domain == nullptr) Fail("GetDomain gave nothing");
    m_domain = domain;
  }

  const char* Callback(const char* name, const char* data) {
    return vorneth::EventCallback(m_session.get(), name, data);
  }

  void Calls(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    m_first = m_stored.size();
    bool locked = false;
    while (in.remaining_bytes() > 0) {
      switch (in.ConsumeEnum<Call>()) {
        case kSet:
          Set(in.ConsumeRandomLengthString());
          break;
        case kGetKnown:
          if (Stored* stored = Pick(in)) Get(stored->m_handle);
          break;
        case kGetFuzzed:
          Get(in.ConsumeRandomLengthString());
          break;
        case kAckSetKnown:
          if (Stored* stored = Pick(in)) Callback("AckSetSecureData", stored->m_handle.c_str());
          break;
        case kAckSetFuzzed:
          Callback("AckSetSecureData", in.ConsumeRandomLengthString().c_str());
          break;
        case kAckGetKnown:
          if (Stored* stored = Pick(in)) AckGet(stored->m_handle);
          break;
        case kAckGetFuzzed:
          AckGet(in.ConsumeRandomLengthString());
          break;
        case kGetDomain:
          GetDomain();
          break;
        case kDllLock:
          Callback(locked ? "UnlockDllDirectory" : "LockDllDirectory", nullptr);
          locked = !locked;
          break;
        case kEvent: {
          const std::string name = in.ConsumeRandomLengthString();
          Event(name.c_str(), in.ConsumeRandomLengthString());
          break;
        }
        case kEventNulls:
          Event(in.ConsumeBool() ? nullptr : "FuzzEvent", in.ConsumeBool() ? std::string() : "data", true);
          break;
      }
    }
    if (locked) Callback("UnlockDllDirectory", nullptr);
    // What an add-on must give back before it ends.
    for (size_t i = m_first; i < m_stored.size(); ++i) {
      Callback("AckGetSecureData", m_stored[i].m_handle.c_str());
      Callback("AckSetSecureData", m_stored[i].m_handle.c_str());
      m_stored[i].m_text.reset();
    }
    if (!m_checker.TakeFrames().empty()) Fail("a frame written outside an event");
  }

  // One of the texts this input stored (earlier inputs released theirs).
  Stored* Pick(FuzzedDataProvider& in) {
    if (m_stored.size() == m_first) return nullptr;
    return &m_stored[in.ConsumeIntegralInRange<size_t>(m_first, m_stored.size() - 1)];
  }

  // The stored entry a handle text names, read as the session reads it (an
  // integer in decimal, blanks and sign in front); null for none.
  Stored* Named(const std::string& handle) {
    const long index = std::strtol(handle.c_str(), nullptr, 10);
    if (index < 0 || static_cast<size_t>(index) >= m_stored.size()) return nullptr;
    return &m_stored[static_cast<size_t>(index)];
  }

  void Set(const std::string& text) {
    const char* handle = Callback("SetSecureData", text.c_str());
    if (handle == nullptr) Fail("SetSecureData gave no handle");
    if (std::to_string(m_stored.size()) != handle) Fail("SetSecureData gave the handle", handle);
    m_stored.push_back(Stored{handle, std::string(text.c_str())});
  }

  void Get(const std::string& handle) {
    const char* text = Callback("GetSecureData", handle.c_str());
    const Stored* stored = Named(handle.c_str());
    const bool expected = stored != nullptr && stored->m_text.has_value();
    if ((text != nullptr) != expected) Fail("GetSecureData found or missed a text, handle:", handle);
    if (text != nullptr && *stored->m_text != text) Fail("GetSecureData gave another text, handle:", handle);
  }

  void AckGet(const std::string& handle) {
    Callback("AckGetSecureData", handle.c_str());
    if (Stored* stored = Named(handle.c_str())) stored->m_text.reset();
  }

  void GetDomain() {
    const char* domain = Callback("GetDomain", nullptr);
    if (domain == nullptr || m_domain != domain) Fail("GetDomain changed");
  }

  // One event; its frame must be there at once. A name that is a request
  // is left to the calls above, which keep the model.
  void Event(const char* name, const std::string& data, bool nullData = false) {
    const std::string eventName = name != nullptr ? name : "";
    if (IsRequest(eventName)) return;
    Callback(name, nullData ? nullptr : data.c_str());
    const std::string eventData = nullData ? "" : std::string(data.c_str());
    std::vector<Json::Value> frames = m_checker.TakeFrames();
    if (frames.size() != 1) Fail("an event wrote other than one frame:", eventName);
    const Json::Value& frame = frames[0];
    if (frame["rtype"] != "Vorneth-E" || frame["event"] != eventName)
      Fail("an event frame of another kind:", eventName);
    if (frame["response"] != eventData) Fail("an event's data changed:", eventName);
  }

  static bool IsRequest(const std::string& name) {
    for (const char* request : {"SetSecureData", "GetSecureData", "AckSetSecureData", "AckGetSecureData", "GetDomain",
                                "LockDllDirectory", "UnlockDllDirectory"}) {
      if (name == request) return true;
    }
    return false;
  }

  vorneth::fuzzing::FrameChecker m_checker;
  vorneth::FrameOutput m_output;
  std::unique_ptr<vorneth::Vorneth> m_session;
  std::string m_domain;
  // Every text stored in the current session, by handle.
  std::vector<Stored> m_stored;
  // The first of m_stored that the running input stored.
  size_t m_first = 0;
  int64_t m_inputs = 0;
};

// Made by LLVMFuzzerInitialize; ended by an exit handler, which runs before
// the leak check at exit.
std::unique_ptr<EventHarness> g_harness;

void EndHarness() {
  g_harness.reset();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  vorneth::fuzzing::PrepareHostEnvironment("fuzz_event_callback");
  g_harness = std::make_unique<EventHarness>();
  std::atexit(&EndHarness);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_harness->Run(data, size);
  return 0;
}
