// A semaphore with one permit: a lock that one thread may take and another
// thread may give back.
//
// A Mutex must be unlocked by the thread that locked it; a lock whose holder
// and releaser can differ (an add-on that takes the library-directory lock
// on one of its threads and gives it back on another) is this instead.
//
// Acquire waits until the permit is free and takes it; Release makes it free
// again and wakes one waiter. Release on a free permit leaves it free (the
// count never exceeds one). Every function may be called from any thread.
// The analysis does not follow the permit (it is no capability): callers
// document who holds it.
#ifndef VORNETH_PLATFORM_BINARY_SEMAPHORE_H_
#define VORNETH_PLATFORM_BINARY_SEMAPHORE_H_

#include "platform/mutex.h"

namespace vorneth {

class BinarySemaphore {
 public:
  // `available`: whether the permit starts free.
  explicit BinarySemaphore(bool available = true) : m_available(available) {}
  BinarySemaphore(const BinarySemaphore&) = delete;
  BinarySemaphore& operator=(const BinarySemaphore&) = delete;

  void Acquire() EXCLUDES(m_mutex) {
    MutexLock lock(&m_mutex);
    while (!m_available) m_released.Wait(&m_mutex);
    m_available = false;
  }
  // False, without waiting, when the permit is taken.
  bool TryAcquire() EXCLUDES(m_mutex) {
    MutexLock lock(&m_mutex);
    if (!m_available) return false;
    m_available = false;
    return true;
  }
  void Release() EXCLUDES(m_mutex) {
    MutexLock lock(&m_mutex);
    m_available = true;
    m_released.Signal();
  }

 private:
  Mutex m_mutex;
  CondVar m_released{&m_mutex};
  bool m_available GUARDED_BY(m_mutex);
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_BINARY_SEMAPHORE_H_
