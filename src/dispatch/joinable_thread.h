// A thread that runs one function once and can be asked whether it is still
// running.
//
// The object starts the thread on construction. It is "joinable" from then
// until the function has returned; the thread itself clears the flag as its
// last step, under a mutex of the object's own. If the thread cannot be
// created, the object is never joinable and nothing is reported.
//
// The function must not let an exception escape; one that does is swallowed
// here so that it cannot end the process.
//
// Thread safety: IsJoinable may be called from any thread. Join and the
// destructor are called by one owning thread. Called on the thread itself,
// Join returns at once; the object must not be destroyed on its own thread.
#ifndef VORNETH_DISPATCH_JOINABLE_THREAD_H_
#define VORNETH_DISPATCH_JOINABLE_THREAD_H_

#include <mutex>
#include <thread>

namespace vorneth {

class JoinableThread {
 public:
  using Function = void (*)(void* arg);

  // Starts `function(arg)` on a new thread with the default stack size.
  JoinableThread(Function function, void* arg);
  // Waits for the thread if it has not been joined yet.
  ~JoinableThread();
  JoinableThread(const JoinableThread&) = delete;
  JoinableThread& operator=(const JoinableThread&) = delete;

  // False once the function has returned, or when the thread never started.
  bool IsJoinable() const;
  // Waits without time limit for the thread to end and releases it. Returns
  // at once when there is nothing to wait for.
  void Join();

 private:
  static void Run(JoinableThread* self, Function function, void* arg);

  mutable std::mutex m_mutex;  // guards m_joinable
  bool m_joinable = false;
  std::thread m_thread;
};

}  // namespace vorneth

#endif  // VORNETH_DISPATCH_JOINABLE_THREAD_H_
