// Where the trace lines go: one file with a size cap and one rotation.
//
// The sink opens its file on the first line (or the first Ready()), writes
// each line whole under its lock (lines of several threads never mix), and
// once the file has reached the cap renames it to "<path>.1", replacing the
// older one, and goes on in a new file: the trace on disk never exceeds
// about twice the cap. Any failure (the file cannot be opened, a write
// fails, as on a full disk or a read-only folder, a rotation fails) turns the
// sink quiet for good: it drops every later line at the cost of one test, so
// a broken trace never slows the host nor grows past its cap.
//
// Thread safety: every member may be called from any thread; m_mutex guards
// the file and the state.
#ifndef QUENLOG_LOG_SINK_H_
#define QUENLOG_LOG_SINK_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "log_file.h"
#include "platform/mutex.h"

namespace quenlog {

using vorneth::Mutex;
using vorneth::MutexLock;

// The size at which the trace file is rotated.
inline constexpr uint64_t kTraceFileCap = uint64_t{8} * 1024 * 1024;
// The suffix of the rotated file.
inline constexpr char kRotatedSuffix[] = ".1";

class LogSink {
 public:
  // Gives the file's path on first use; an empty path makes the sink quiet.
  // It is asked at most once, under the sink's lock.
  using PathSource = std::function<std::string()>;

  LogSink(PathSource path, uint64_t cap) : m_pathSource(std::move(path)), m_cap(cap) {}
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // Opens the file if that has not been tried yet; false once quiet.
  bool Ready() EXCLUDES(m_mutex);
  // Writes `line` (ending in a line feed) whole, rotating afterwards when
  // the file has reached the cap. Dropped once quiet.
  void Write(std::string_view line) EXCLUDES(m_mutex);
  // True once a failure turned the sink quiet.
  bool Quiet() const { return m_quiet.load(std::memory_order_relaxed); }

 private:
  bool OpenOnce() REQUIRES(m_mutex);
  void Rotate() REQUIRES(m_mutex);
  void GoQuiet() REQUIRES(m_mutex);

  Mutex m_mutex;
  PathSource m_pathSource GUARDED_BY(m_mutex);
  const uint64_t m_cap;
  std::string m_path GUARDED_BY(m_mutex);
  bool m_tried GUARDED_BY(m_mutex) = false;
  LogFile m_file GUARDED_BY(m_mutex);
  // Also read without the lock, so that a quiet sink costs one load.
  std::atomic<bool> m_quiet{false};
};

}  // namespace quenlog

#endif  // QUENLOG_LOG_SINK_H_
