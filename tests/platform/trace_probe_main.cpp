// A program that makes trace calls as the first thing it does and prints
// what the trace facility answered, one "key=value" line per fact. Tests run
// it in a fresh process because the logging library is looked up only once
// per process.
//
//   trace_probe               state, handle, leave result, level, loaded
//   trace_probe threads N     N threads make their first trace call at once;
//                             one line "thread=<i> state=<s> handle=<h>" each
//   trace_probe repeat N      N named texts in scope "Probe::Repeat"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

int Basic() {
  const TraceState state = TraceLoad();
  const intptr_t handle = TracePrepare("Probe::Main");
  TraceEnter(handle);
  TraceText(handle, "probe.text", "probe value");
  TraceNumber(handle, "probe.number", -12);
  TraceOutput(handle, "probe message");
  const int32_t leave = TraceLeave(handle, 7);
  std::printf("state=%d\nhandle=%lld\nleave=%d\nlevel=%d\nloaded=%d\n", static_cast<int>(state),
              static_cast<long long>(handle), leave, TraceLevel(), FindLoadedLibrary("libquenlog.so") ? 1 : 0);
  return 0;
}

// Every thread waits at the latch, so the first trace calls of the process
// are made from all threads at once.
int Threads(int count) {
  std::vector<TraceState> states(count, TraceState::kNotTried);
  std::vector<intptr_t> handles(count, 0);
  std::latch start(count);
  std::vector<std::thread> threads;
  threads.reserve(count);
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      handles[i] = TracePrepare("Probe::Thread");
      states[i] = TraceLoad();
      TraceLeave(handles[i], i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < count; ++i) {
    std::printf("thread=%d state=%d handle=%lld\n", i, static_cast<int>(states[i]), static_cast<long long>(handles[i]));
  }
  return 0;
}

int Repeat(int count) {
  TraceFunction trace("Probe::Repeat");
  for (int i = 0; i < count; ++i) {
    trace.Text("probe.line", "tab\there\nline " + std::to_string(i));
  }
  return 0;
}

}  // namespace
}  // namespace vorneth

int main(int argc, char** argv) {
  if (argc == 1) return vorneth::Basic();
  if (argc == 3) {
    const int count = std::atoi(argv[2]);
    if (count > 0 && count <= 1000) {
      if (std::strcmp(argv[1], "threads") == 0) return vorneth::Threads(count);
      if (std::strcmp(argv[1], "repeat") == 0) return vorneth::Repeat(count);
    }
  }
  std::fprintf(stderr, "usage: trace_probe [threads N | repeat N]\n");
  return 2;
}
