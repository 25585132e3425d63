#include "dispatch/joinable_thread.h"

#include "platform/trace.h"

namespace vorneth {

JoinableThread::JoinableThread(Function function, void* arg) {
  // Held across the start so that a thread that ends at once cannot clear
  // the flag before it has been set.
  MutexLock lock(&m_mutex);
  const Status started = StartThread(m_thread, [this, function, arg] { Run(this, function, arg); });
  m_started = started.ok();
  m_joinable = m_started;
  if (!m_started) {
    TraceFunction trace("JoinableThread::JoinableThread");
    trace.Text("why", started.why());
    trace.Message("thread not started");
  }
}

JoinableThread::~JoinableThread() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

bool JoinableThread::IsJoinable() const {
  MutexLock lock(&m_mutex);
  return m_joinable;
}

void JoinableThread::Join() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
    m_thread.join();
  }
}

void JoinableThread::Run(JoinableThread* self, Function function, void* arg) {
  try {
    function(arg);
  } catch (...) {
    // Nothing may leave a thread; the owner sees the thread as ended.
  }
  MutexLock lock(&self->m_mutex);
  self->m_joinable = false;
}

}  // namespace vorneth
