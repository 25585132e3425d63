#include "log_sink.h"

namespace quenlog {

bool LogSink::Ready() {
  if (Quiet()) return false;
  MutexLock lock(&m_mutex);
  return OpenOnce();
}

void LogSink::Write(std::string_view line) {
  if (Quiet()) return;
  MutexLock lock(&m_mutex);
  if (!OpenOnce()) return;
  uint64_t size = 0;
  if (!m_file.Append(line, size)) {
    GoQuiet();
    return;
  }
  if (size >= m_cap) Rotate();
}

bool LogSink::OpenOnce() {
  if (m_tried) return !Quiet();
  m_tried = true;
  m_path = m_pathSource();
  m_pathSource = nullptr;
  if (m_path.empty() || !m_file.Open(m_path)) {
    GoQuiet();
    return false;
  }
  return true;
}

// Other processes write the same file and may rotate it first: then the
// path names their new file, which is left alone, and this process only
// follows it there.
void LogSink::Rotate() {
  if (!m_file.LockForRotation()) {
    GoQuiet();
    return;
  }
  const bool ours = m_file.Names(m_path);
  const bool renamed = !ours || LogFile::Rename(m_path, m_path + kRotatedSuffix);
  m_file.UnlockRotation();
  if (!renamed || !m_file.Open(m_path)) GoQuiet();
}

void LogSink::GoQuiet() {
  m_file.Close();
  m_quiet.store(true, std::memory_order_relaxed);
}

}  // namespace quenlog
