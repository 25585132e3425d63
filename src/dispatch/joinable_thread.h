// A thread that runs one function once and can be asked whether it is still
// running.
//
// The object starts the thread on construction. Started() says, for the
// object's whole life, whether the system gave it a thread; a thread it
// refused is traced ("thread not started" with the system's reason) and the
// object is then never joinable. A started object is "joinable" until the
// function has returned; the thread itself clears the flag as its last step,
// under the object's own mutex.
//
// The function must not let an exception escape; one that does is swallowed
// here so that it cannot end the process.
//
// Thread safety: Started and IsJoinable may be called from any thread. Join
// and the destructor are called by one owning thread. Called on the thread
// itself, Join returns at once; the object must not be destroyed on its own
// thread.
#ifndef VORNETH_DISPATCH_JOINABLE_THREAD_H_
#define VORNETH_DISPATCH_JOINABLE_THREAD_H_

#include <functional>
#include <thread>

#include "platform/mutex.h"
#include "platform/status.h"

namespace vorneth {

// Starts `body` on a new thread held in `thread`; a failure says why the
// system refused the thread. Defined alone in joinable_thread_start.cpp, so
// that a test can link its own definition and make thread creation fail.
Status StartThread(std::thread& thread, std::function<void()> body);

class JoinableThread {
 public:
  using Function = void (*)(void* arg);

  // Starts `function(arg)` on a new thread with the default stack size.
  JoinableThread(Function function, void* arg);
  // Waits for the thread if it has not been joined yet.
  ~JoinableThread();
  JoinableThread(const JoinableThread&) = delete;
  JoinableThread& operator=(const JoinableThread&) = delete;

  // False when the system refused the thread; the function then never runs.
  bool Started() const { return m_started; }
  // False once the function has returned, or when the thread never started.
  bool IsJoinable() const EXCLUDES(m_mutex);
  // Waits without time limit for the thread to end and releases it. Returns
  // at once when there is nothing to wait for.
  void Join();

 private:
  static void Run(JoinableThread* self, Function function, void* arg) EXCLUDES(self->m_mutex);

  mutable Mutex m_mutex;
  bool m_joinable GUARDED_BY(m_mutex) = false;
  // Written by the constructor only.
  bool m_started = false;
  std::thread m_thread;
};

}  // namespace vorneth

#endif  // VORNETH_DISPATCH_JOINABLE_THREAD_H_
