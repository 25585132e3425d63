// What both platforms share of registry.h: the argument checks, the trace
// scopes and the tracing of failures. The system calls are in
// registry_<platform>.cpp.
#include "common/registry.h"

#include <string>
#include <string_view>

#include "common/registry_native.h"
#include "platform/text_conversion.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

constexpr char kRegistryError[] = "Registry - ERROR - registry access failed";

// Why `key` cannot name a key; empty when it can.
std::string KeyProblem(const std::string& key) {
  if (key.empty()) return "an empty registry key name";
  if (!IsStrictUtf8(key)) return "a registry key name that is not UTF-8";
  return {};
}

const char* ScopeName(RegistryScope scope) {
  return scope == RegistryScope::kUser ? "user" : "machine";
}

Status Traced(const TraceFunction& trace, Status status) {
  if (!status.ok()) {
    trace.Message(kRegistryError);
    trace.Text("why", status.why());
  }
  return status;
}

}  // namespace

RegistryRead ReadRegistryDefault(RegistryScope scope, const std::string& key, std::string& value, std::string& why) {
  TraceFunction trace("Registry::ReadDefault");
  trace.Text("scope", ScopeName(scope));
  trace.Text("key", key);
  value.clear();
  why = KeyProblem(key);
  RegistryRead result = RegistryRead::kFailed;
  if (why.empty()) result = native::ReadRegistryDefault(scope, key, value, why);
  if (result == RegistryRead::kFailed) {
    trace.Message(kRegistryError);
    trace.Text("why", why);
    value.clear();
  }
  trace.SetResult(static_cast<int32_t>(result));
  return result;
}

Status WriteRegistryDefault(RegistryScope scope, const std::string& key, const std::string& value) {
  TraceFunction trace("Registry::WriteDefault");
  trace.Text("scope", ScopeName(scope));
  trace.Text("key", key);
  trace.Text("value", value);
  const std::string problem = KeyProblem(key);
  if (!problem.empty()) return Traced(trace, Status::Failed(problem));
  if (!IsStrictUtf8(value)) return Traced(trace, Status::Failed("a registry value that is not UTF-8"));
  return Traced(trace, native::WriteRegistryDefault(scope, key, value));
}

Status DeleteRegistryKey(RegistryScope scope, const std::string& key) {
  TraceFunction trace("Registry::DeleteKey");
  trace.Text("scope", ScopeName(scope));
  trace.Text("key", key);
  const std::string problem = KeyProblem(key);
  if (!problem.empty()) return Traced(trace, Status::Failed(problem));
  return Traced(trace, native::DeleteRegistryKey(scope, key));
}

}  // namespace vorneth
