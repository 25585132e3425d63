// What both platforms share of FileLock: the trace scope, the argument check
// and the tracing of a failure. The system calls are in
// file_lock_<platform>.cpp.
#include "platform/file_lock.h"

#include <filesystem>

#include "platform/path_utf8.h"
#include "platform/trace.h"

namespace vorneth {

FileLock::FileLock(const std::string& path) {
  TraceFunction trace("FileLock::FileLock");
  trace.Text("filePath.c_str ()", path);
  std::filesystem::path checked;
  m_status =
      Utf8ToPath(path, checked) && !path.empty() ? Lock(path) : Status::Failed("the path is empty or not valid UTF-8");
  if (m_status.ok()) return;
  trace.Message("FileLock - ERROR - cannot lock");
  trace.Text("why", m_status.why());
}

FileLock::~FileLock() {
  if (m_status.ok()) Unlock();
}

}  // namespace vorneth
