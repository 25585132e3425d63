// Diagnostic trace facility.
//
// The host never writes a trace of its own: every trace call goes to an
// optional logging library that is looked up once per process, lazily, on
// the first trace call from any thread (see trace_library.h for where it is
// searched). Without the library, or without its main entry point
// qnLogEnterFunction_PrepareEx, tracing is off for the life of the process
// and every call below does nothing beyond one atomic load.
//
// Thread safety: every function may be called from any thread. The library
// itself is called without serialisation.
#ifndef VORNETH_PLATFORM_TRACE_H_
#define VORNETH_PLATFORM_TRACE_H_

#include <cstdint>
#include <string_view>

namespace vorneth {

// Availability of the logging library. Moves NotTried -> Loading once and
// Loading -> Off/On once; never changes again.
enum class TraceState : int { kNotTried = 0, kLoading = 1, kOff = 2, kOn = 3 };

// Type codes handed to qnLogBuffer / qnLogNumber.
inline constexpr uint32_t kTraceTypeText = 8;
inline constexpr uint32_t kTraceTypeDataText = 0x80000008u;
inline constexpr uint32_t kTraceTypeNumber = 1;
inline constexpr uint32_t kTraceTypePointer = 102;

// Module name under which every scope is opened.
inline constexpr const char kTraceModule[] = "Vorneth";

// Loads the library on the first call (other threads wait for the loading
// thread in 1 ms sleeps) and returns the final state, kOff or kOn.
TraceState TraceLoad();
// TraceLoad() == TraceState::kOn, after the first call one atomic load.
bool TraceEnabled();

// Opens a scope: qnLogEnterFunction_PrepareEx(0, "Vorneth", scope, 0).
// Returns the library's handle, 0 when tracing is off.
intptr_t TracePrepare(const char* scope);
void TraceEnter(intptr_t handle);
// Closes a scope. With handle 0 returns `result` without touching the
// library (and without loading it).
int32_t TraceLeave(intptr_t handle, int32_t result);
// A trace message; reaches the library only while qnLogLevel() <= 0.
void TraceOutput(intptr_t handle, const char* message);
// Named values. Texts are passed with their byte length (NULs included).
void TraceText(intptr_t handle, const char* name, std::string_view text);
void TraceDataText(intptr_t handle, const char* name, std::string_view text);
void TraceNumber(intptr_t handle, const char* name, int32_t value);
void TracePointer(intptr_t handle, const char* name, const void* value);
// qnLogLevel(), or 0x7FFFFFFF when tracing is off.
int32_t TraceLevel();

// Guards the exit of a scope: its destructor calls TraceLeave(handle,
// result) with the value `result` holds at that moment.
class TraceScope {
 public:
  TraceScope(intptr_t handle, const int32_t& result) : m_handle(handle), m_result(result) {}
  // A scope without a handle (tracing off) has nothing to close.
  ~TraceScope() {
    if (m_handle != 0) TraceLeave(m_handle, m_result);
  }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  intptr_t m_handle;
  const int32_t& m_result;
};

// One whole trace scope named after an operation: prepared and entered on
// construction, left on destruction (every exit, exceptions included). This
// is what operations use; the functions above are its building blocks.
// Tracing is fixed for the life of the process once looked up, so a scope
// asks once whether it is on, and its entries cost one test each when it is
// off.
class TraceFunction {
 public:
  explicit TraceFunction(const char* scope)
      : m_on(TraceEnabled()), m_handle(m_on ? TracePrepare(scope) : 0), m_guard(m_handle, m_result) {
    if (m_on) TraceEnter(m_handle);
  }
  TraceFunction(const TraceFunction&) = delete;
  TraceFunction& operator=(const TraceFunction&) = delete;

  void Text(const char* name, std::string_view text) const {
    if (m_on) TraceText(m_handle, name, text);
  }
  void DataText(const char* name, std::string_view text) const {
    if (m_on) TraceDataText(m_handle, name, text);
  }
  void Number(const char* name, int32_t value) const {
    if (m_on) TraceNumber(m_handle, name, value);
  }
  void Pointer(const char* name, const void* value) const {
    if (m_on) TracePointer(m_handle, name, value);
  }
  void Message(const char* message) const {
    if (m_on) TraceOutput(m_handle, message);
  }
  void SetResult(int32_t result) { m_result = result; }
  intptr_t handle() const { return m_handle; }
  bool on() const { return m_on; }

 private:
  bool m_on;
  intptr_t m_handle;
  int32_t m_result = 0;
  TraceScope m_guard;
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_TRACE_H_
