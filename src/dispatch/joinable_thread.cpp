#include "dispatch/joinable_thread.h"

#include <system_error>

namespace vorneth {

JoinableThread::JoinableThread(Function function, void* arg) {
  // Held across the start so that a thread that ends at once cannot clear
  // the flag before it has been set.
  std::lock_guard<std::mutex> lock(m_mutex);
  m_joinable = true;
  try {
    m_thread = std::thread(&JoinableThread::Run, this, function, arg);
  } catch (const std::system_error&) {
    m_joinable = false;
  }
}

JoinableThread::~JoinableThread() {
  if (m_thread.joinable()) {
    m_thread.join();
  }
}

bool JoinableThread::IsJoinable() const {
  std::lock_guard<std::mutex> lock(m_mutex);
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
  std::lock_guard<std::mutex> lock(self->m_mutex);
  self->m_joinable = false;
}

}  // namespace vorneth
