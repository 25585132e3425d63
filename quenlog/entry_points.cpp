// The library's entry points, as the host looks them up by name: plain C
// functions with the platform's calling convention for them (trace_call.h).
//
// They forward to one process-wide Tracer, made on the first call and never
// destroyed: host threads may still trace while the process ends, after
// static objects would have been torn down. Nothing escapes an entry point:
// a failure to allocate drops the line.
#include <cstdint>
#include <new>
#include <string>

#include "platform/data_directory.h"
#include "platform/trace_call.h"
#include "system_info.h"
#include "tracer.h"

namespace quenlog {
namespace {

// The trace file's name inside the host's data folder.
constexpr char kTraceFileName[] = "trace.log";

// The trace file in the host's data folder; empty (a quiet sink) when there
// is no data folder.
std::string TraceFilePath() {
  std::string folder;
  if (!vorneth::GetDataDirectory(folder)) return {};
  return folder + vorneth::kPathSeparator + kTraceFileName;
}

// Storage for the Tracer whose destructor never runs.
union TracerStorage {
  TracerStorage() : m_tracer(TraceFilePath, kTraceFileCap, EnvironmentFlag(kShowDataVariable)) {}
  ~TracerStorage() {}
  Tracer m_tracer;
};

Tracer& TheTracer() {
  static TracerStorage storage;
  return storage.m_tracer;
}

// Run `call` and swallow whatever it throws: the host calls without a
// handler and must never see an exception of the library.
template <typename Result, typename Call>
Result Guarded(Result fallback, Call call) noexcept {
  try {
    return call();
  } catch (...) {
    return fallback;
  }
}

template <typename Call>
void Guarded(Call call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

}  // namespace
}  // namespace quenlog

// Only the entry points leave the library.
#if defined(_WIN32)
#define QUENLOG_EXPORT __declspec(dllexport)
#else
#define QUENLOG_EXPORT __attribute__((visibility("default")))
#endif

using quenlog::Guarded;
using quenlog::TheTracer;

extern "C" {

// The first and last arguments are reserved; the host passes 0.
QUENLOG_EXPORT intptr_t VORNETH_TRACE_CALL qnLogEnterFunction_PrepareEx(int, const char* module, const char* scope,
                                                                        int) {
  return Guarded(intptr_t{0}, [&] { return TheTracer().Prepare(module, scope); });
}

QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogEnterFunction_Execute(intptr_t handle) {
  Guarded([&] { TheTracer().Enter(handle); });
}

QUENLOG_EXPORT int32_t VORNETH_TRACE_CALL qnLogLeaveFunction_Execute(intptr_t handle, int32_t result) {
  return Guarded(result, [&] { return TheTracer().Leave(handle, result); });
}

QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogOutput_Execute(intptr_t handle, const char* message) {
  Guarded([&] { TheTracer().Output(handle, message); });
}

QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogBuffer(intptr_t handle, const char* name, uint32_t type, const void* data,
                                                   uint32_t count) {
  Guarded([&] { TheTracer().Buffer(handle, name, type, data, count); });
}

QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogNumber(intptr_t handle, const char* name, uint32_t type, int32_t value) {
  Guarded([&] { TheTracer().Number(handle, name, type, value); });
}

// Messages are always wanted.
QUENLOG_EXPORT int32_t VORNETH_TRACE_CALL qnLogLevel() {
  return 0;
}

// Part of the library's set of entry points; the host looks them up but
// never calls them, and they do nothing.
QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogStruct(intptr_t, const char*, uint32_t, const void*, uint32_t) {}

QUENLOG_EXPORT void VORNETH_TRACE_CALL qnLogEnable(int32_t) {}

}  // extern "C"
