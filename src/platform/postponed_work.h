// Work a thread may leave for the moment it is about to wait.
//
// A worker thread that writes its answer and then goes to sleep until the
// next command is often interrupted by the write itself: the reader of the
// answer runs first, and the worker comes back only to go to sleep. Written
// as the worker's last step before sleeping, after it has said it is ready
// for the next command, the same answer costs one thread switch less, and
// the next command can reach the worker before it has slept at all.
//
// So code that knows its next step is the wait may open a PostponementScope;
// what is handed to Postpone inside it runs, on the same thread, at that
// thread's next RunPostponedWork, which the waiting code calls right before
// it waits (and the thread once more before it ends). Outside a scope
// Postpone runs the work at once. Work runs in the order it was postponed.
//
// Everything here is per thread; no lock is involved.
#ifndef VORNETH_PLATFORM_POSTPONED_WORK_H_
#define VORNETH_PLATFORM_POSTPONED_WORK_H_

namespace vorneth {

using PostponedFunction = void (*)();

// While one exists on a thread, Postpone on that thread postpones.
class PostponementScope {
 public:
  PostponementScope();
  ~PostponementScope();
  PostponementScope(const PostponementScope&) = delete;
  PostponementScope& operator=(const PostponementScope&) = delete;
};

// True inside a PostponementScope on the calling thread.
bool PostponementAllowed();

// Runs `work` at the calling thread's next RunPostponedWork, or at once when
// postponing is not allowed or the thread holds too much postponed work
// already. The same function postponed twice runs once.
void Postpone(PostponedFunction work);

// Runs the calling thread's postponed work.
void RunPostponedWork();

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_POSTPONED_WORK_H_
