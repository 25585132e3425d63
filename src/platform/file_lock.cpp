// What both platforms share of FileLock: the trace scope, the argument check,
// the bounded wait and the tracing of a failure. The system calls are in
// file_lock_<platform>.cpp.
#include "platform/file_lock.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/path_utf8.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

using Clock = std::chrono::steady_clock;

// The pauses between tries grow from the first to the longest: a lock
// released at once is taken soon, a long wait costs few wake-ups.
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{25};

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
  TraceFunction trace("FileLock::FileLock");
  trace.Text("filePath.c_str ()", path);
  const Clock::time_point deadline = Clock::now() + wait;
  std::filesystem::path checked;
  m_status = Utf8ToPath(path, checked) && !path.empty() ? OpenAndLock(path, deadline)
                                                        : Status::Failed("the path is empty or not valid UTF-8");
  if (m_status.ok()) return;
  trace.Message(m_heldElsewhere ? "FileLock - ERROR - held by another process" : "FileLock - ERROR - cannot lock");
  trace.Text("why", m_status.why());
}

FileLock::~FileLock() {
  if (m_status.ok()) Unlock();
}

Status FileLock::OpenAndLock(const std::string& path, Clock::time_point deadline) {
  if (Status opened = Open(path); !opened.ok()) return opened;
  std::chrono::milliseconds pause = kFirstPause;
  for (;;) {
    std::string why;
    switch (TryLock(why)) {
      case Attempt::kLocked:
        return Status::Ok();
      case Attempt::kFailed:
        Close();
        return Status::Failed("cannot lock: " + why);
      case Attempt::kHeldElsewhere:
        break;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, kLongestPause);
  }
  Close();
  m_heldElsewhere = true;
  return Status::Failed("the lock is held by another process: " + path);
}

}  // namespace vorneth
