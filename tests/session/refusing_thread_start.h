// Thread creation that fails for real: this test build links its own
// StartThread (dispatch/joinable_thread.h), which gives out a set number of
// threads and then refuses every further one, as a system out of threads
// does.
#ifndef VORNETH_TESTS_SESSION_REFUSING_THREAD_START_H_
#define VORNETH_TESTS_SESSION_REFUSING_THREAD_START_H_

namespace vorneth::testing {

// From now on, `count` more threads are started and later ones refused.
// A negative count lifts the limit.
void AllowThreads(int count);

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SESSION_REFUSING_THREAD_START_H_
