// The example add-on: a small, complete add-on to copy from. It uses every
// part of the contract in sdk/include/vorneth_addon.h:
//
//   command      params                          answer
//   "add"        {"a":1,"b":2}                   {"sum":3}
//   "about"      ignored                         {"domain":..,"instance":..,"path":..}
//   "startTicks" {"count":N,"intervalMs":M}      {"started":N}; then N "tick" events
//                                                from a thread of the instance's own
//   "stopTicks"  ignored                         {"stopped":true}
//   "share"      {"text":"..."}                  {"handle":".."}; and a "shared" event
//   "receive"    {"handle":".."}                 {"text":".."}: a text another
//                                                instance shared, fetched once
//
// A command that cannot be done answers {"error":"<why>"}. Events ("tick",
// "shared") go to the page only while it has registered them; registering
// any other name is refused. The page also receives a style sheet and a
// script after each creation.
//
// Threads. The host calls the entry points of one instance from that
// instance's own host thread, one call at a time, but different instances
// from different threads at once. So:
// - the table of instances is guarded by g_tableLock;
// - an Instance is used by its host thread and by its ticker thread; what
//   both touch (registered events, the stop flag) is guarded by m_lock;
// - no lock is held while calling into the host, and onDispose stops the
//   ticker thread before it returns (the host context may be gone after).
//
// Texts. Every text returned to the host must outlive the call: onInvoke
// returns the instance's m_answer, kept until the instance's next call;
// style and script are string literals.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "json_fields.h"
#include "vorneth_addon.h"

namespace example {
namespace {

constexpr char kTick[] = "tick";
constexpr char kShared[] = "shared";
constexpr double kMaxTicks = 100000;
constexpr double kMaxIntervalMs = 60000;

std::string ErrorAnswer(std::string_view why) {
  std::string answer = "{\"error\":";
  AppendString(answer, why);
  return answer + "}";
}

class Instance {
 public:
  Instance(int32_t value, std::string path, void* hostContext, EventCallback callback)
      : m_value(value), m_path(std::move(path)), m_hostContext(hostContext), m_callback(callback) {}
  ~Instance() { StopTicks(); }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Runs one command; the answer stays valid until this instance's next call.
  const char* Invoke(std::string_view command, std::string_view params);

  bool Register(std::string_view name, bool wanted) {
    if (name != kTick && name != kShared) return false;
    const std::lock_guard<std::mutex> lock(m_lock);
    if (wanted) {
      m_registered.insert(std::string(name));
    } else {
      m_registered.erase(std::string(name));
    }
    return true;
  }

  // Ends the ticker thread, if one runs, and waits for it.
  void StopTicks() {
    if (!m_ticker.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(m_lock);
      m_stopTicks = true;
    }
    m_wake.notify_all();
    m_ticker.join();
  }

 private:
  // The commands a page can invoke, each with its handler (kCommands).
  struct Command {
    std::string_view m_name;
    std::string (Instance::*m_run)(std::string_view params);
  };
  static const Command kCommands[];

  std::string Add(std::string_view params) {
    const std::optional<double> a = ReadNumber(params, "a");
    const std::optional<double> b = ReadNumber(params, "b");
    if (!a || !b) return ErrorAnswer("add needs the numbers a and b");
    const double sum = *a + *b;
    if (!std::isfinite(sum)) return ErrorAnswer("the sum is out of range");
    return "{\"sum\":" + NumberText(sum) + "}";
  }

  // GetDomain answers the page's origin; the text stays the host's.
  std::string About(std::string_view) {
    const char* domain = m_callback(m_hostContext, VORNETH_GET_DOMAIN, "");
    std::string answer = "{\"domain\":";
    AppendString(answer, domain != nullptr ? domain : "");
    answer += ",\"instance\":" + std::to_string(m_value) + ",\"path\":";
    AppendString(answer, m_path);
    return answer + "}";
  }

  std::string StartTicks(std::string_view params) {
    const std::optional<double> count = ReadNumber(params, "count");
    const std::optional<double> interval = ReadNumber(params, "intervalMs");
    if (!count || *count < 1 || *count > kMaxTicks || !interval || *interval < 0 || *interval > kMaxIntervalMs) {
      return ErrorAnswer("startTicks needs count (1 to 100000) and intervalMs (0 to 60000)");
    }
    StopTicks();  // one ticker per instance: a new one replaces the old
    {
      const std::lock_guard<std::mutex> lock(m_lock);
      m_stopTicks = false;
    }
    try {
      m_ticker = std::thread(&Instance::Tick, this, static_cast<long>(*count),
                             std::chrono::milliseconds(static_cast<long>(*interval)));
    } catch (const std::system_error&) {
      return ErrorAnswer("no thread for the ticks");
    }
    return "{\"started\":" + std::to_string(static_cast<long>(*count)) + "}";
  }

  // The ticker thread: `count` "tick" events, `interval` apart, each
  // {"tick":i,"of":count}, raised only while the page has "tick" registered.
  void Tick(long count, std::chrono::milliseconds interval) {
    for (long i = 1; i <= count; ++i) {
      bool registered = false;
      {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_wake.wait_for(lock, interval, [this] { return m_stopTicks; })) return;
        registered = m_registered.count(kTick) != 0;
      }
      const std::string data = "{\"tick\":" + std::to_string(i) + ",\"of\":" + std::to_string(count) + "}";
      if (registered) m_callback(m_hostContext, kTick, data.c_str());
    }
  }

  std::string Stop(std::string_view) {
    StopTicks();
    return "{\"stopped\":true}";
  }

  // Stores the text in the host and raises "shared" with its handle: the
  // handle, not the text, travels through the page to another instance.
  std::string Share(std::string_view params) {
    const std::optional<std::string> text = ReadString(params, "text");
    if (!text) return ErrorAnswer("share needs the string text");
    const char* handle = m_callback(m_hostContext, VORNETH_SET_SECURE_DATA, text->c_str());
    if (handle == nullptr) return ErrorAnswer("the host kept no text");
    const std::string copy = handle;
    // The handle text is ours to release as soon as it is copied; the
    // stored text stays until the receiver acknowledges it.
    m_callback(m_hostContext, VORNETH_ACK_SET_SECURE_DATA, copy.c_str());
    bool registered = false;
    {
      const std::lock_guard<std::mutex> lock(m_lock);
      registered = m_registered.count(kShared) != 0;
    }
    if (registered) m_callback(m_hostContext, kShared, copy.c_str());
    std::string answer = "{\"handle\":";
    AppendString(answer, copy);
    return answer + "}";
  }

  // Fetches a shared text once: the acknowledgement frees it in the host.
  std::string Receive(std::string_view params) {
    const std::optional<std::string> handle = ReadString(params, "handle");
    if (!handle) return ErrorAnswer("receive needs the string handle");
    const char* stored = m_callback(m_hostContext, VORNETH_GET_SECURE_DATA, handle->c_str());
    if (stored == nullptr) return ErrorAnswer("no text under this handle");
    std::string answer = "{\"text\":";
    AppendString(answer, stored);  // copied before the acknowledgement frees it
    m_callback(m_hostContext, VORNETH_ACK_GET_SECURE_DATA, handle->c_str());
    return answer + "}";
  }

  const int32_t m_value;
  const std::string m_path;  // the installation folder
  void* const m_hostContext;
  const EventCallback m_callback;
  std::string m_answer;  // the host thread's only
  std::thread m_ticker;  // the host thread's only

  std::mutex m_lock;
  std::condition_variable m_wake;      // m_stopTicks was set
  std::set<std::string> m_registered;  // guarded by m_lock
  bool m_stopTicks = false;            // guarded by m_lock
};

std::mutex g_tableLock;
std::map<int32_t, std::unique_ptr<Instance>> g_instances;  // guarded by g_tableLock
int32_t g_nextValue = 0;                                   // guarded by g_tableLock
// The folder of the latest onInitPath. The host calls onInitPath and
// onCreate as a pair under a lock of its own: no other creation comes
// between them.
std::string g_path;  // guarded by g_tableLock

const Instance::Command Instance::kCommands[] = {
    {"add", &Instance::Add},        {"about", &Instance::About}, {"startTicks", &Instance::StartTicks},
    {"stopTicks", &Instance::Stop}, {"share", &Instance::Share}, {"receive", &Instance::Receive},
};

const char* Instance::Invoke(std::string_view command, std::string_view params) {
  m_answer = ErrorAnswer("unknown command");
  for (const Command& known : kCommands) {
    if (known.m_name == command) {
      m_answer = (this->*known.m_run)(params);
      break;
    }
  }
  return m_answer.c_str();
}

// The instance of `value`, or null. The pointer stays valid during an entry
// point's call: only onDispose, never at the same time for one instance,
// removes it.
Instance* Find(int32_t value) {
  const std::lock_guard<std::mutex> lock(g_tableLock);
  const auto found = g_instances.find(value);
  return found != g_instances.end() ? found->second.get() : nullptr;
}

}  // namespace
}  // namespace example

using example::Find;
using example::Instance;

extern "C" {

// The installation folder, before each onCreate.
VORNETH_ADDON_EXPORT void VORNETH_ADDON_CALL onInitPath(const char* path) {
  const std::lock_guard<std::mutex> lock(example::g_tableLock);
  example::g_path = path != nullptr ? path : "";
}

VORNETH_ADDON_EXPORT int32_t VORNETH_ADDON_CALL onCreate(void* host_context, EventCallback callback) {
  if (callback == nullptr) return -1;
  const std::lock_guard<std::mutex> lock(example::g_tableLock);
  if (example::g_nextValue == INT32_MAX) return -1;  // values are never reused
  const int32_t value = example::g_nextValue++;
  example::g_instances[value] = std::make_unique<Instance>(value, example::g_path, host_context, callback);
  return value;
}

VORNETH_ADDON_EXPORT void VORNETH_ADDON_CALL onDispose(int32_t instance) {
  std::unique_ptr<Instance> ending;
  {
    const std::lock_guard<std::mutex> lock(example::g_tableLock);
    const auto found = example::g_instances.find(instance);
    if (found == example::g_instances.end()) return;
    ending = std::move(found->second);
    example::g_instances.erase(found);
  }
  ending.reset();  // joins the ticker thread, outside the table lock
}

VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onInvoke(int32_t instance, const char* command,
                                                             const char* params) {
  Instance* found = Find(instance);
  if (found == nullptr) return "{\"error\":\"unknown instance\"}";
  return found->Invoke(command != nullptr ? command : "", params != nullptr ? params : "");
}

VORNETH_ADDON_EXPORT bool VORNETH_ADDON_CALL onRegisterEvent(int32_t instance, const char* name) {
  Instance* found = Find(instance);
  return found != nullptr && name != nullptr && found->Register(name, true);
}

VORNETH_ADDON_EXPORT bool VORNETH_ADDON_CALL onUnregisterEvent(int32_t instance, const char* name) {
  Instance* found = Find(instance);
  return found != nullptr && name != nullptr && found->Register(name, false);
}

// Style and script belong to the library, not to an instance: literals.
VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onGetCSS(void) {
  return ".vorneth-example{font-family:monospace}";
}

VORNETH_ADDON_EXPORT const char* VORNETH_ADDON_CALL onGetJS(void) {
  return "window.vornethExample={loaded:true};";
}

}  // extern "C"
