// The recording logging library. Built twice: as the full recorder, and with
// QUENLOG_WITHOUT_PREPARE defined as a library that has every entry point
// except qnLogEnterFunction_PrepareEx.
#include "trace_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/mutex.h"
#include "platform/trace_call.h"
#include "trace_recorder_prepare.h"

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
// Windows opens files in text mode unless told otherwise.
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace vorneth::testing {
namespace {

// Owns the record file's descriptor.
class RecordFile {
 public:
  RecordFile() {
    const char* path = std::getenv("QUENLOG_RECORD_FILE");
    if (path != nullptr && *path != '\0') {
      m_fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_BINARY, 0644);
    }
  }
  ~RecordFile() {
    if (m_fd >= 0) ::close(m_fd);
  }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // One write() per line: with O_APPEND the kernel places the whole line at
  // the end of the file, so lines of several processes never interleave.
  void Append(const std::string& line) const {
    if (m_fd < 0) return;
    const ssize_t written = ::write(m_fd, line.data(), line.size());
    (void)written;  // a test library has nowhere to report a short write
  }

 private:
  int m_fd = -1;
};

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

class Recorder {
 public:
  intptr_t Prepare(int first, const char* module, const char* scope, int last) {
    MutexLock lock(&m_mutex);
    const intptr_t handle = m_nextHandle++;
    m_scopes[handle] = scope != nullptr ? scope : "";
    m_prepares.push_back({first, module != nullptr ? module : "", m_scopes[handle], last});
    return handle;
  }

  void Add(intptr_t handle, std::string kind, const char* name, std::string value) {
    MutexLock lock(&m_mutex);
    auto found = m_scopes.find(handle);
    TraceRecord record{std::move(kind), found != m_scopes.end() ? found->second : std::string(),
                       name != nullptr ? name : "", std::move(value)};
    m_file.Append(Escape(record.kind) + '\t' + Escape(record.scope) + '\t' + Escape(record.name) + '\t' +
                  Escape(record.value) + '\n');
    m_records.push_back(std::move(record));
  }

  std::vector<TraceRecord> Records() {
    MutexLock lock(&m_mutex);
    return m_records;
  }

  std::vector<TracePrepareCall> Prepares() {
    MutexLock lock(&m_mutex);
    return m_prepares;
  }

  // Scope names stay known so that handles opened before a clear still
  // record under their scope.
  void Clear() {
    MutexLock lock(&m_mutex);
    m_records.clear();
    m_prepares.clear();
  }

 private:
  Mutex m_mutex;
  intptr_t m_nextHandle GUARDED_BY(m_mutex) = 1;
  std::map<intptr_t, std::string> m_scopes GUARDED_BY(m_mutex);
  std::vector<TraceRecord> m_records GUARDED_BY(m_mutex);
  std::vector<TracePrepareCall> m_prepares GUARDED_BY(m_mutex);
  RecordFile m_file GUARDED_BY(m_mutex);
};

Recorder& TheRecorder() {
  static Recorder recorder;
  return recorder;
}

// Kind of a record by type code; codes the host does not use still get a
// distinct kind so a wrong code never passes for a right one.
std::string BufferKind(uint32_t type) {
  if (type == 8) return "text";
  if (type == 0x80000008u) return "data";
  return "buffer-type-" + std::to_string(type);
}

std::string NumberKind(uint32_t type) {
  if (type == 1) return "number";
  if (type == 102) return "pointer";
  return "number-type-" + std::to_string(type);
}

}  // namespace

std::vector<TraceRecord> TraceRecords() {
  return TheRecorder().Records();
}

std::vector<TracePrepareCall> TracePrepareCalls() {
  return TheRecorder().Prepares();
}

void ClearTraceRecords() {
  TheRecorder().Clear();
}

bool TraceHasMessage(std::string_view message, std::string_view scope) {
  for (const TraceRecord& record : TraceRecords()) {
    if (record.kind == "message" && record.value == message && (scope.empty() || record.scope == scope)) {
      return true;
    }
  }
  return false;
}

size_t TraceCountMessage(std::string_view message) {
  size_t count = 0;
  for (const TraceRecord& record : TraceRecords()) {
    if (record.kind == "message" && record.value == message) ++count;
  }
  return count;
}

}  // namespace vorneth::testing

// The entry points, with C linkage and the library's calling convention.
using vorneth::testing::TheRecorder;

extern "C" {

#ifndef QUENLOG_WITHOUT_PREPARE
intptr_t VORNETH_TRACE_CALL qnLogEnterFunction_PrepareEx(int first, const char* module, const char* scope, int last) {
  return TheRecorder().Prepare(first, module, scope, last);
}
#endif

void VORNETH_TRACE_CALL qnLogEnterFunction_Execute(intptr_t handle) {
  TheRecorder().Add(handle, "enter", nullptr, {});
}

int32_t VORNETH_TRACE_CALL qnLogLeaveFunction_Execute(intptr_t handle, int32_t result) {
  TheRecorder().Add(handle, "leave", nullptr, std::to_string(result));
  return result;
}

void VORNETH_TRACE_CALL qnLogOutput_Execute(intptr_t handle, const char* message) {
  TheRecorder().Add(handle, "message", nullptr, message != nullptr ? message : "");
  // Loaded code that prints to standard output, as libraries in the host's
  // process may: with QUENLOG_STDOUT_NOISE set every message is also printed.
  static const bool noisy = std::getenv("QUENLOG_STDOUT_NOISE") != nullptr;
  if (noisy) {
    std::fputs("trace noise\n", stdout);
    std::fflush(stdout);
  }
}

void VORNETH_TRACE_CALL qnLogBuffer(intptr_t handle, const char* name, uint32_t type, const void* data,
                                    uint32_t count) {
  std::string value;
  if (data != nullptr) value.assign(static_cast<const char*>(data), count);
  TheRecorder().Add(handle, vorneth::testing::BufferKind(type), name, std::move(value));
}

// Numbers are recorded as signed decimals, pointers as the unsigned 32-bit
// value the host passed.
void VORNETH_TRACE_CALL qnLogNumber(intptr_t handle, const char* name, uint32_t type, int32_t value) {
  std::string text = type == 102 ? std::to_string(static_cast<uint32_t>(value)) : std::to_string(value);
  TheRecorder().Add(handle, vorneth::testing::NumberKind(type), name, std::move(text));
}

int32_t VORNETH_TRACE_CALL qnLogLevel() {
  return 0;
}

// Present so the library has the full set of entry points; the host looks
// them up but never calls them.
void VORNETH_TRACE_CALL qnLogStruct(intptr_t, const char*, uint32_t, const void*, uint32_t) {}

void VORNETH_TRACE_CALL qnLogEnable(int32_t) {}

}  // extern "C"
