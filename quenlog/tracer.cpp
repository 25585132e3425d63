#include "tracer.h"

#include "system_info.h"
#include "trace_line.h"

namespace quenlog {

intptr_t Tracer::Prepare(const char* module, const char* scope) {
  if (!m_sink.Ready()) return 0;
  std::string name = module != nullptr ? module : "(null)";
  name += "::";
  name += scope != nullptr ? scope : "(null)";
  return m_scopes.Open(std::move(name));
}

void Tracer::Enter(intptr_t handle) {
  if (m_sink.Quiet()) return;
  Write(m_scopes.Name(handle), "enter");
}

int32_t Tracer::Leave(intptr_t handle, int32_t result) {
  const std::string scope = m_scopes.Close(handle);
  if (!m_sink.Quiet()) Write(scope, "leave " + std::to_string(result));
  return result;
}

void Tracer::Output(intptr_t handle, const char* message) {
  if (m_sink.Quiet()) return;
  Write(m_scopes.Name(handle), MessageEvent(message));
}

void Tracer::Buffer(intptr_t handle, const char* name, uint32_t type, const void* data, uint32_t count) {
  if (m_sink.Quiet()) return;
  Write(m_scopes.Name(handle), BufferEvent(name, type, data, count, m_showData));
}

void Tracer::Number(intptr_t handle, const char* name, uint32_t type, int32_t value) {
  if (m_sink.Quiet()) return;
  Write(m_scopes.Name(handle), NumberEvent(name, type, value));
}

void Tracer::Write(const std::string& scope, const std::string& event) {
  const LineOrigin origin{std::chrono::system_clock::now(), CurrentProcessId(), CurrentThreadId()};
  std::string line = LinePrefix(origin, scope);
  line += event;
  line += '\n';
  m_sink.Write(line);
}

}  // namespace quenlog
