#include "platform/trace.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dynamic_library.h"
#include "platform/trace_call.h"
#include "platform/trace_library.h"

namespace vorneth {
namespace {

// The library's entry points. Written only by the thread that loads the
// library, before it publishes the final state with a release store; read
// only by threads that saw kOn with an acquire load. A missing entry point
// stays nullptr and is never called.
struct TraceEntries {
  TracePrepareEntry prepare = nullptr;
  TraceEnterEntry enter = nullptr;
  TraceLeaveEntry leave = nullptr;
  TraceOutputEntry output = nullptr;
  TraceBufferEntry buffer = nullptr;
  TraceNumberEntry number = nullptr;
  TraceLevelEntry level = nullptr;
  void* log_struct = nullptr;  // looked up, never called
  void* enable = nullptr;      // looked up, never called
};

TraceEntries g_entries;
std::atomic<int> g_state{static_cast<int>(TraceState::kNotTried)};

constexpr int32_t kLevelWhenOff = 0x7FFFFFFF;

TraceState LoadLibraryOnce() {
  const TraceState state = [] {
    const LibraryHandle library = FindTraceLibrary();
    if (!library) return TraceState::kOff;
    g_entries.prepare = library.LookupSymbol<TracePrepareEntry>("qnLogEnterFunction_PrepareEx");
    g_entries.enter = library.LookupSymbol<TraceEnterEntry>("qnLogEnterFunction_Execute");
    g_entries.leave = library.LookupSymbol<TraceLeaveEntry>("qnLogLeaveFunction_Execute");
    g_entries.output = library.LookupSymbol<TraceOutputEntry>("qnLogOutput_Execute");
    g_entries.buffer = library.LookupSymbol<TraceBufferEntry>("qnLogBuffer");
    g_entries.number = library.LookupSymbol<TraceNumberEntry>("qnLogNumber");
    g_entries.level = library.LookupSymbol<TraceLevelEntry>("qnLogLevel");
    g_entries.log_struct = library.LookupAddress("qnLogStruct");
    g_entries.enable = library.LookupAddress("qnLogEnable");
    return g_entries.prepare != nullptr ? TraceState::kOn : TraceState::kOff;
  }();
  g_state.store(static_cast<int>(state), std::memory_order_release);
  return state;
}

TraceState LoadSlowPath() {
  int expected = static_cast<int>(TraceState::kNotTried);
  if (g_state.compare_exchange_strong(expected, static_cast<int>(TraceState::kLoading), std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
    return LoadLibraryOnce();
  }
  // Another thread is loading: wait for it to publish. The wait is bounded by
  // the library search, which does not depend on this thread.
  int state = expected;
  while (state == static_cast<int>(TraceState::kLoading)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state = g_state.load(std::memory_order_acquire);
  }
  return static_cast<TraceState>(state);
}

// True when tracing is on. After the first call this is a single acquire
// load of the state.
inline bool TraceOn() {
  const int state = g_state.load(std::memory_order_acquire);
  if (state == static_cast<int>(TraceState::kOn)) return true;
  if (state == static_cast<int>(TraceState::kOff)) return false;
  return LoadSlowPath() == TraceState::kOn;
}

}  // namespace

TraceState TraceLoad() {
  const int state = g_state.load(std::memory_order_acquire);
  if (state >= static_cast<int>(TraceState::kOff)) return static_cast<TraceState>(state);
  return LoadSlowPath();
}

bool TraceEnabled() {
  return TraceOn();
}

intptr_t TracePrepare(const char* scope) {
  if (!TraceOn()) return 0;
  return g_entries.prepare(0, kTraceModule, scope, 0);
}

void TraceEnter(intptr_t handle) {
  if (!TraceOn() || g_entries.enter == nullptr) return;
  g_entries.enter(handle);
}

int32_t TraceLeave(intptr_t handle, int32_t result) {
  if (handle == 0) return result;
  if (!TraceOn() || g_entries.leave == nullptr) return result;
  return g_entries.leave(handle, result);
}

void TraceOutput(intptr_t handle, const char* message) {
  if (!TraceOn() || g_entries.output == nullptr) return;
  if (TraceLevel() > 0) return;
  g_entries.output(handle, message);
}

void TraceText(intptr_t handle, const char* name, std::string_view text) {
  if (!TraceOn() || g_entries.buffer == nullptr) return;
  g_entries.buffer(handle, name, kTraceTypeText, text.data(), static_cast<uint32_t>(text.size()));
}

void TraceDataText(intptr_t handle, const char* name, std::string_view text) {
  if (!TraceOn() || g_entries.buffer == nullptr) return;
  g_entries.buffer(handle, name, kTraceTypeDataText, text.data(), static_cast<uint32_t>(text.size()));
}

void TraceNumber(intptr_t handle, const char* name, int32_t value) {
  if (!TraceOn() || g_entries.number == nullptr) return;
  g_entries.number(handle, name, kTraceTypeNumber, value);
}

// The library takes a 32-bit value: on the 32-bit host that is the whole
// pointer; a 64-bit build passes its low 32 bits.
void TracePointer(intptr_t handle, const char* name, const void* value) {
  if (!TraceOn() || g_entries.number == nullptr) return;
  const auto bits = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  g_entries.number(handle, name, kTraceTypePointer, static_cast<int32_t>(bits));
}

// A library without qnLogLevel cannot say that it wants messages, so it is
// treated as wanting none.
int32_t TraceLevel() {
  if (!TraceOn() || g_entries.level == nullptr) return kLevelWhenOff;
  return g_entries.level();
}

}  // namespace vorneth
