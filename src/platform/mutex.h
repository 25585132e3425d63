// A plain non-recursive mutex that Clang's thread-safety analysis knows,
// its scoped lock, and a condition variable that waits on it.
//
// Members guarded by a Mutex say so with GUARDED_BY; functions that expect
// the caller to hold it say REQUIRES. Lock and Unlock must be called by the
// same thread (a lock that another thread may release is a semaphore, not a
// mutex).
#ifndef VORNETH_PLATFORM_MUTEX_H_
#define VORNETH_PLATFORM_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace vorneth {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { m_mutex.lock(); }
  void Unlock() RELEASE() { m_mutex.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }
  // Tells the analysis that the caller holds the mutex, where it cannot see
  // that by itself (a callback run under the caller's lock).
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  friend class CondVar;
  std::mutex m_mutex;
};

// Holds a Mutex from construction to destruction.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex->Lock(); }
  ~MutexLock() RELEASE() { m_mutex->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const m_mutex;
};

// A condition variable bound to one Mutex. Wait releases the mutex while it
// sleeps and holds it again when it returns; spurious wake-ups happen, so
// callers wait in a loop on their condition.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : m_mutex(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait() REQUIRES(m_mutex) {
    std::unique_lock<std::mutex> lock(m_mutex->m_mutex, std::adopt_lock);
    m_cv.wait(lock);
    lock.release();
  }
  // The same, for callers whose analysis knows the mutex by its own name
  // (a member `m_lock` of the caller, not this object's pointer to it).
  // `mutex` must be the one the condition variable was bound to.
  void Wait(Mutex* mutex) REQUIRES(mutex) {
    m_mutex->AssertHeld();
    (void)mutex;
    Wait();
  }
  // False when `timeout` passed without a wake-up.
  bool WaitFor(std::chrono::milliseconds timeout) REQUIRES(m_mutex) {
    std::unique_lock<std::mutex> lock(m_mutex->m_mutex, std::adopt_lock);
    const bool woken = m_cv.wait_for(lock, timeout) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  // The same, for callers whose analysis knows the mutex by its own name,
  // as Wait(Mutex*) above.
  bool WaitFor(Mutex* mutex, std::chrono::milliseconds timeout) REQUIRES(mutex) {
    m_mutex->AssertHeld();
    (void)mutex;
    return WaitFor(timeout);
  }
  void Signal() { m_cv.notify_one(); }
  void SignalAll() { m_cv.notify_all(); }

 private:
  Mutex* const m_mutex;
  std::condition_variable m_cv;
};

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_MUTEX_H_
