// Hints to the scheduler about the calling thread.
//
// A worker thread that is handed a command by the thread reading the input
// should not take the processor from that reader the moment it is woken:
// the reader is about to wait for more input anyway, and taking its processor
// only adds a second switch back. Asking for long turns makes the woken
// worker wait for the reader's turn to end, and lets it finish its command
// in one turn.
//
// Hints only: where the platform has no such request, or refuses it, the
// thread runs as before and nothing is reported.
#ifndef VORNETH_PLATFORM_THREAD_SCHEDULING_H_
#define VORNETH_PLATFORM_THREAD_SCHEDULING_H_

namespace vorneth {

// Asks for turns of kLongTurnMicroseconds for the calling thread. Keeps its
// scheduling class and priority.
void PreferLongTurns();

inline constexpr unsigned kLongTurnMicroseconds = 10'000;

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_THREAD_SCHEDULING_H_
