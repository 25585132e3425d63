// The library's work behind its entry points: each call becomes one line in
// the sink, under the scope its handle names (trace_line.h has the format).
//
//   Prepare(module, scope)  opens a scope "<module>::<scope>"; the handle,
//                           0 when the sink is quiet or the table full
//   Enter(handle)           "enter"
//   Leave(handle, result)   "leave <result>", drops the scope; returns result
//   Output(handle, text)    "message \"text\""
//   Buffer / Number         "<name> = <value>"
// A handle that names no scope (0, or one already left) still gets its line,
// without a scope name. Null texts are written as (null). Nothing throws out
// of these but std::bad_alloc, which the entry points catch.
//
// Thread safety: every member may be called from any thread.
#ifndef QUENLOG_TRACER_H_
#define QUENLOG_TRACER_H_

#include <cstdint>
#include <string>

#include "log_sink.h"
#include "scope_table.h"

namespace quenlog {

// The environment variable that asks for the contents of data texts.
inline constexpr char kShowDataVariable[] = "VORNETH_TRACE_DATA";

class Tracer {
 public:
  Tracer(LogSink::PathSource path, uint64_t cap, bool show_data)
      : m_sink(std::move(path), cap), m_showData(show_data) {}

  intptr_t Prepare(const char* module, const char* scope);
  void Enter(intptr_t handle);
  int32_t Leave(intptr_t handle, int32_t result);
  void Output(intptr_t handle, const char* message);
  void Buffer(intptr_t handle, const char* name, uint32_t type, const void* data, uint32_t count);
  void Number(intptr_t handle, const char* name, uint32_t type, int32_t value);

  const LogSink& sink() const { return m_sink; }
  ScopeTable& scopes() { return m_scopes; }

 private:
  void Write(const std::string& scope, const std::string& event);

  LogSink m_sink;
  ScopeTable m_scopes;
  const bool m_showData;
};

}  // namespace quenlog

#endif  // QUENLOG_TRACER_H_
