// The bounded command queue between the threads that accept commands and the
// worker threads that run them.
//
// Each entry is one command: a name, its parameters (any JSON value) and the
// page's callback identifier. The ring has VORNETH_COMMAND_CACHE_SIZE slots,
// one of which is always kept free, so at most 3 commands are held at once.
// Commands leave in the order they were stored, whichever producer stored
// them.
//
// Put is also a hand-over: it returns only once the ring is empty again
// (every held command, not only its own, has been taken by a consumer), or
// once the cache has been released. A consumer waiting in Get is handed the
// oldest held command directly by the producer, under the mutex: the command
// is taken at that moment (the ring advances exactly as a Get would advance
// it, so slot numbers stay those of a take), only that consumer is woken, and
// the producer returns without waiting for it to run. Only while every
// consumer is busy does the producer wait for one to come back. On a machine
// with more than one usable processor the producer first waits a few
// microseconds, polling, for a consumer that is still running a command
// (CommandFinished tells which are): such a consumer takes the next command
// without going to sleep, which is cheaper than waking an idle one. A cache
// made with IdleConsumers::kPoll also lets a consumer that finds it empty
// poll a few microseconds for a command before it sleeps, while fewer
// consumers poll in the whole process than there are usable processors:
// a consumer whose next command usually follows soon (an add-on worker
// answering a page that waits for each answer) then needs no wake-up. With a
// single usable processor nothing ever polls; every wait sleeps (a producer
// on a condition variable, a consumer on a word of its own) and uses no
// processor time. A consumer about to sleep, or meeting a released cache,
// first runs the work its thread postponed (platform/postponed_work.h): its
// last answers.
//
// ReleaseGet moves the cache, once and for good, into the released state:
// every waiting and every later Get returns false (after a 10 ms pause, which
// a consumer told to stop skips), every
// waiting Put returns, and every later Put returns without storing. Commands
// still held at that point are never delivered, and nobody is told. A command
// handed to a consumer before the release was taken: its Get returns it.
//
// Thread safety: Put, Get, CommandFinished and ReleaseGet may be called from
// any number of threads at once. The owner destroys the cache only after
// every thread that could wait on it has ended.
#ifndef VORNETH_DISPATCH_COMMAND_CACHE_H_
#define VORNETH_DISPATCH_COMMAND_CACHE_H_

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/trace.h"

namespace vorneth {

// Number of slots in the ring; usable capacity is one less.
inline constexpr int32_t VORNETH_COMMAND_CACHE_SIZE = 4;

class VornethCommandCache {
 public:
  // Whether a consumer that finds the cache empty polls a few microseconds
  // for a command before it sleeps (only with more than one usable
  // processor).
  enum class IdleConsumers { kSleep, kPoll };
  explicit VornethCommandCache(IdleConsumers idleConsumers = IdleConsumers::kSleep);
  // Wakes nobody: no thread may still be waiting on the cache.
  virtual ~VornethCommandCache();
  VornethCommandCache(const VornethCommandCache&) = delete;
  VornethCommandCache& operator=(const VornethCommandCache&) = delete;

  // Stores the command (moved in), waiting ("Full queue, waiting") while the
  // ring is full, then hands it over as described above. Returns at once,
  // storing nothing, on a released cache. A Put that was waiting for room
  // when the cache was released still fills the free slot, but nothing is
  // delivered.
  // The parameters are taken over, not copied: a command's parameters may
  // be large.
  // Returns true when a consumer took this command, false when the cache was
  // released before one did (the command is then never delivered): a
  // producer that must answer for its command learns here that nobody will.
  bool Put(std::string command, Json::Value&& params, std::string callbackId) EXCLUDES(m_mutex);

  // Waits for a command and moves the oldest one into the out-parameters:
  // true. On a released cache (even one still holding commands) it sleeps
  // 10 ms and returns false, leaving the out-parameters untouched.
  bool Get(std::string& command, Json::Value& params, std::string& callbackId) EXCLUDES(m_mutex);
  // The same for a consumer that can be asked to stop (a worker): also tells
  // whether `stopRequested` was already set when the command was taken.
  // A command handed to a waiting consumer is taken when it is handed, which
  // may be well before the consumer wakes; the flag is read then. On a
  // released cache it returns false without the pause once `stopRequested`
  // is set: the consumer is leaving, so it cannot spin, and the session's
  // end need not wait for it.
  bool Get(std::string& command, Json::Value& params, std::string& callbackId, const std::atomic<bool>& stopRequested,
           bool& takenAfterStop) EXCLUDES(m_mutex);

  // Called by a consumer once it has finished running a command that Get
  // handed it. Only steers whether a producer polls for a running consumer;
  // a consumer that never calls it costs producers a few microseconds of
  // polling, nothing else.
  void CommandFinished();

  // Releases the cache and wakes every waiting Put and Get. Idempotent.
  void ReleaseGet() EXCLUDES(m_mutex);

 private:
  struct Slot {
    std::string m_command;
    Json::Value m_params;
    std::string m_callbackId;
  };
  // A consumer asleep in Get, on its own stack. A producer moves the oldest
  // command into the consumer's out-parameters and sets m_takenFrom under
  // m_mutex, then turns m_state to kHanded; a release turns it to kReleased.
  // The consumer sleeps on m_state alone (platform/address_wait.h), so once
  // woken it needs no lock: it never waits for the producer that woke it.
  // The consumer turns m_state from kWaiting to kSleeping right before it
  // sleeps; only a consumer that did needs the wake-up call.
  struct IdleConsumer {
    static constexpr uint32_t kWaiting = 0;
    static constexpr uint32_t kHanded = 1;
    static constexpr uint32_t kReleased = 2;
    static constexpr uint32_t kSleeping = 3;
    IdleConsumer(std::string& command, Json::Value& params, std::string& callbackId,
                 const std::atomic<bool>* stopRequested)
        : m_command(command), m_params(params), m_callbackId(callbackId), m_stopRequested(stopRequested) {}
    std::string& m_command;
    Json::Value& m_params;
    std::string& m_callbackId;
    const std::atomic<bool>* m_stopRequested;  // null for a consumer without one
    int32_t m_takenFrom = -1;                  // the slot the command came from
    bool m_takenAfterStop = false;
    std::atomic<uint32_t> m_state{kWaiting};
  };
  // Consumers whose state changed and who are still to be woken: woken only
  // once m_mutex has been let go. Holds what one hand-over can change
  // between two waits: at most the commands the ring holds.
  class PendingWakes {
   public:
    void Add(std::atomic<uint32_t>* word) { m_words[m_count++] = word; }
    bool Full() const { return m_count == VORNETH_COMMAND_CACHE_SIZE; }
    bool Empty() const { return m_count == 0; }
    void WakeAll();

   private:
    std::atomic<uint32_t>* m_words[VORNETH_COMMAND_CACHE_SIZE] = {};
    int32_t m_count = 0;
  };

  static int32_t Next(int32_t index) { return (index + 1) % VORNETH_COMMAND_CACHE_SIZE; }
  bool IsEmpty() const REQUIRES(m_mutex) { return m_read == m_write; }
  bool IsFull() const REQUIRES(m_mutex) { return Next(m_write) == m_read; }

  // Put's hand-over: returns once the ring is empty or the cache released.
  // Consumers it handed commands to are left in `wakes`.
  void HandOver(PendingWakes& wakes) REQUIRES(m_mutex);
  // Moves the oldest held command into `consumer`'s hands. True when the
  // consumer sleeps and must be woken.
  bool GiveOldest(IdleConsumer& consumer) REQUIRES(m_mutex);
  // Wakes `wakes` with m_mutex let go for the while.
  void WakeUnlocked(PendingWakes& wakes) REQUIRES(m_mutex);
  // Both Gets.
  bool Take(IdleConsumer& self) EXCLUDES(m_mutex);
  // Get's record of a command taken.
  static void TraceTaken(const TraceFunction& trace, const IdleConsumer& self);
  // Moves the oldest held command out of the ring: the slot it left.
  int32_t TakeOldest(std::string& command, Json::Value& params, std::string& callbackId) REQUIRES(m_mutex);
  // Whether a producer should poll for a running consumer before sleeping or
  // waking an idle one.
  bool ShouldPollForRunningConsumer() const REQUIRES(m_mutex);
  // Polls, with m_mutex let go, until a consumer takes a command or a few
  // microseconds have passed.
  void PollForTake() REQUIRES(m_mutex);
  // An idle consumer's wait for a hand-over or the release, without the
  // mutex: polling first when that has been paying off, then asleep. The
  // state it ended in.
  uint32_t WaitIdle(IdleConsumer& self);
  // Polls for a hand-over for a few microseconds, unless too many consumers
  // poll already.
  static void PollForHandOver(const IdleConsumer& self);

  // Guards the ring and the idle consumers; m_notFull waits on it.
  Mutex m_mutex;
  // Taken slots are left moved-from; a slot is refilled by the next Put.
  Slot m_slots[VORNETH_COMMAND_CACHE_SIZE] GUARDED_BY(m_mutex);
  int32_t m_write GUARDED_BY(m_mutex) = 0;  // slot the next Put fills
  int32_t m_read GUARDED_BY(m_mutex) = 0;   // slot the next Get takes
  // Commands stored since construction: a Put's command was taken once
  // m_takes has passed the count it was stored at.
  uint64_t m_stored GUARDED_BY(m_mutex) = 0;
  // Consumers asleep in Get, the most recent last: it is handed the next
  // command, as the one whose memory is most likely still in the caches.
  std::vector<IdleConsumer*> m_idle GUARDED_BY(m_mutex);
  // Commands handed out whose consumer has not yet said CommandFinished.
  // Counted up under m_mutex, down without it: only a hint for polling.
  std::atomic<int32_t> m_running{0};
  // Counts takes; written under m_mutex, polled without it.
  std::atomic<uint64_t> m_takes{0};
  // Written without m_mutex; read both with and without it.
  std::atomic<bool> m_released{false};
  // Set at construction: more than one usable processor.
  const bool m_mayPoll;
  // Set at construction: idle consumers poll before they sleep.
  const bool m_idlePoll;
  // Whether the last command came soon after its consumer went idle: while
  // commands come further apart than a poll can wait for, consumers sleep at
  // once.
  std::atomic<bool> m_pollPaysOff{true};
  // Producers wait here while the ring is full, and after storing until the
  // ring is empty. Every take notifies it.
  CondVar m_notFull{&m_mutex};
};

}  // namespace vorneth

#endif  // VORNETH_DISPATCH_COMMAND_CACHE_H_
