// Calling convention and signatures of the logging library's entry points.
//
// The library exports plain C functions. On 32-bit Windows they use the
// standard calling convention of system libraries (__stdcall); elsewhere the
// platform's default C convention. VORNETH_TRACE_CALL expands to the right
// keyword so the host's callers and the test library's definitions stay the
// same source on both platforms.
#ifndef VORNETH_PLATFORM_TRACE_CALL_H_
#define VORNETH_PLATFORM_TRACE_CALL_H_

#include <cstdint>

#if defined(_WIN32)
#define VORNETH_TRACE_CALL __stdcall
#else
#define VORNETH_TRACE_CALL
#endif

namespace vorneth {

// qnLogEnterFunction_PrepareEx(reserved, module, scope, reserved) -> handle
using TracePrepareEntry = intptr_t(VORNETH_TRACE_CALL*)(int, const char*, const char*, int);
// qnLogEnterFunction_Execute(handle)
using TraceEnterEntry = void(VORNETH_TRACE_CALL*)(intptr_t);
// qnLogLeaveFunction_Execute(handle, result) -> result to return
using TraceLeaveEntry = int32_t(VORNETH_TRACE_CALL*)(intptr_t, int32_t);
// qnLogOutput_Execute(handle, message)
using TraceOutputEntry = void(VORNETH_TRACE_CALL*)(intptr_t, const char*);
// qnLogBuffer(handle, name, type code, data, byte count)
using TraceBufferEntry = void(VORNETH_TRACE_CALL*)(intptr_t, const char*, uint32_t, const void*, uint32_t);
// qnLogNumber(handle, name, type code, value)
using TraceNumberEntry = void(VORNETH_TRACE_CALL*)(intptr_t, const char*, uint32_t, int32_t);
// qnLogLevel() -> level; messages are wanted while it is 0 or less
using TraceLevelEntry = int32_t(VORNETH_TRACE_CALL*)();

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_TRACE_CALL_H_
