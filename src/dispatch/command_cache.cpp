#include "dispatch/command_cache.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/address_wait.h"
#include "platform/postponed_work.h"
#include "platform/processors.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// How long a producer polls for a running consumer. A page command that needs
// no disk or network is answered well within it; a longer one is not worth
// the processor time, and the producer sleeps instead.
constexpr std::chrono::microseconds kRunningConsumerPoll{20};

// How long an idle consumer of a cache that lets them poll waits for a
// command before it sleeps.
constexpr std::chrono::microseconds kIdleConsumerPoll{30};
// Idle consumers poll while their commands came within this time of their
// going idle: soon enough for a poll to catch most of them.
constexpr std::chrono::microseconds kPollPaysOffGap = 2 * kIdleConsumerPoll;

// How long Get waits before it reports a released cache.
constexpr std::chrono::milliseconds kReleasedGetPause{10};

}  // namespace

VornethCommandCache::VornethCommandCache(IdleConsumers idleConsumers)
    : m_mayPoll(UsableProcessorCount() > 1), m_idlePoll(m_mayPoll && idleConsumers == IdleConsumers::kPoll) {
  TraceFunction trace("VornethCommandCache::VornethCommandCache()");
  trace.Number("VORNETH_COMMAND_CACHE_SIZE", VORNETH_COMMAND_CACHE_SIZE);
}

VornethCommandCache::~VornethCommandCache() {
  TraceFunction trace("VornethCommandCache::~VornethCommandCache()");
}

bool VornethCommandCache::Put(std::string command, Json::Value&& params, std::string callbackId) {
  TraceFunction trace("VornethCommandCache::Put()");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_released) {
    return false;
  }

  PendingWakes wakes;
  bool taken = false;
  {
    MutexLock lock(&m_mutex);
    while (IsFull()) {
      if (m_released) {
        break;
      }
      trace.Message("Full queue, waiting");
      m_notFull.Wait(&m_mutex);
    }

    Slot& slot = m_slots[m_write];
    slot.m_command = std::move(command);
    slot.m_params = std::move(params);
    slot.m_callbackId = std::move(callbackId);
    trace.Number("this->m_write", m_write);
    trace.Text("command.c_str ()", slot.m_command);
    trace.Text("callbackId.c_str ()", slot.m_callbackId);
    trace.Message("Command stored");
    m_write = Next(m_write);
    const uint64_t sequence = m_stored++;

    // The ring is empty right after storing only when the wait for room
    // above was cut short by a release: then the held commands are lost.
    if (!IsEmpty()) HandOver(wakes);
    taken = m_takes.load(std::memory_order_relaxed) > sequence;
  }
  wakes.WakeAll();
  return taken;
}

void VornethCommandCache::HandOver(PendingWakes& wakes) {
  bool polled = false;
  while (!m_released && !IsEmpty()) {
    if (!polled && ShouldPollForRunningConsumer()) {
      polled = true;
      WakeUnlocked(wakes);
      PollForTake();
    } else if (!m_idle.empty()) {
      IdleConsumer* consumer = m_idle.back();
      m_idle.pop_back();
      if (GiveOldest(*consumer)) wakes.Add(&consumer->m_state);
      if (wakes.Full()) WakeUnlocked(wakes);
    } else if (!wakes.Empty()) {
      // Those handed a command are woken before anybody waits for them to
      // come back; the ring may have changed meanwhile, so look again.
      WakeUnlocked(wakes);
    } else {
      // Every consumer is busy: the next one that comes back to Get takes
      // from the ring and notifies m_notFull.
      m_notFull.Wait(&m_mutex);
    }
  }
}

void VornethCommandCache::PendingWakes::WakeAll() {
  for (int32_t i = 0; i < m_count; ++i) WakeOneWaiter(*m_words[i]);
  m_count = 0;
}

void VornethCommandCache::WakeUnlocked(PendingWakes& wakes) {
  m_mutex.Unlock();
  wakes.WakeAll();
  m_mutex.Lock();
}

bool VornethCommandCache::ShouldPollForRunningConsumer() const {
  return m_mayPoll && m_running.load(std::memory_order_relaxed) > 0;
}

void VornethCommandCache::PollForTake() {
  const uint64_t takes = m_takes.load(std::memory_order_relaxed);
  m_mutex.Unlock();
  const auto deadline = std::chrono::steady_clock::now() + kRunningConsumerPoll;
  while (m_takes.load(std::memory_order_relaxed) == takes && !m_released) {
    for (int i = 0; i < 16; ++i) SpinPause();
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  m_mutex.Lock();
}

int32_t VornethCommandCache::TakeOldest(std::string& command, Json::Value& params, std::string& callbackId) {
  Slot& slot = m_slots[m_read];
  command = std::move(slot.m_command);
  params = std::move(slot.m_params);
  callbackId = std::move(slot.m_callbackId);
  const int32_t takenFrom = m_read;
  m_read = Next(m_read);
  m_running.fetch_add(1, std::memory_order_relaxed);
  m_takes.fetch_add(1, std::memory_order_relaxed);
  // Wakes producers waiting for room and producers waiting for the
  // hand-over.
  m_notFull.SignalAll();
  return takenFrom;
}

bool VornethCommandCache::GiveOldest(IdleConsumer& consumer) {
  consumer.m_takenFrom = TakeOldest(consumer.m_command, consumer.m_params, consumer.m_callbackId);
  consumer.m_takenAfterStop = consumer.m_stopRequested != nullptr && consumer.m_stopRequested->load();
  return consumer.m_state.exchange(IdleConsumer::kHanded, std::memory_order_acq_rel) == IdleConsumer::kSleeping;
}

bool VornethCommandCache::Get(std::string& command, Json::Value& params, std::string& callbackId) {
  IdleConsumer self(command, params, callbackId, nullptr);
  return Take(self);
}

bool VornethCommandCache::Get(std::string& command, Json::Value& params, std::string& callbackId,
                              const std::atomic<bool>& stopRequested, bool& takenAfterStop) {
  IdleConsumer self(command, params, callbackId, &stopRequested);
  const bool taken = Take(self);
  takenAfterStop = self.m_takenAfterStop;
  return taken;
}

void VornethCommandCache::TraceTaken(const TraceFunction& trace, const IdleConsumer& self) {
  trace.Number("this->m_read", self.m_takenFrom);
  trace.Text("command->c_str ()", self.m_command);
  trace.Text("callbackId->c_str ()", self.m_callbackId);
  trace.Message("Command withdrawed");
}

bool VornethCommandCache::Take(IdleConsumer& self) {
  TraceFunction trace("VornethCommandCache::Get()");
  bool idle = false;
  {
    MutexLock lock(&m_mutex);
    if (!m_released && !IsEmpty()) {
      GiveOldest(self);
      // Traced before the producers it woke can return.
      TraceTaken(trace, self);
    } else if (!m_released) {
      m_idle.push_back(&self);
      idle = true;
    }
  }
  // What the thread left for later (its last answers) goes before it sleeps,
  // and a command may meanwhile reach it without waking it. While commands
  // keep coming it stays for later: the answers of a burst leave together.
  if (idle || m_released) RunPostponedWork();
  const uint32_t state = idle ? WaitIdle(self) : self.m_state.load(std::memory_order_acquire);
  if (state == IdleConsumer::kHanded) {
    // A command from the ring was traced under the lock; a hand-over is
    // traced here.
    if (idle) TraceTaken(trace, self);
    return true;
  }
  // A release wins over held commands. The pause, outside the lock, keeps a
  // consumer that keeps calling a released cache from spinning; one told to
  // stop is on its way out.
  const bool leaving = self.m_stopRequested != nullptr && self.m_stopRequested->load();
  if (!leaving) std::this_thread::sleep_for(kReleasedGetPause);
  return false;
}

uint32_t VornethCommandCache::WaitIdle(IdleConsumer& self) {
  const auto idleSince = std::chrono::steady_clock::now();
  if (m_idlePoll && m_pollPaysOff.load(std::memory_order_relaxed)) PollForHandOver(self);
  uint32_t state = IdleConsumer::kWaiting;
  if (self.m_state.compare_exchange_strong(state, IdleConsumer::kSleeping, std::memory_order_acq_rel)) {
    state = IdleConsumer::kSleeping;
    while (state == IdleConsumer::kSleeping) {
      WaitWhileEqual(self.m_state, IdleConsumer::kSleeping);
      state = self.m_state.load(std::memory_order_acquire);
    }
  }
  // Handed a command (or released), asleep or not. Polling pays while
  // commands come about as soon as a poll lasts.
  if (m_idlePoll && state == IdleConsumer::kHanded) {
    m_pollPaysOff.store(std::chrono::steady_clock::now() - idleSince < kPollPaysOffGap, std::memory_order_relaxed);
  }
  return state;
}

void VornethCommandCache::PollForHandOver(const IdleConsumer& self) {
  // Consumers that poll at once, in every cache of the process: while one
  // processor is left to whoever produces their commands, polling saves a
  // sleep and a wake-up; beyond that it only takes the producers' time.
  static std::atomic<int32_t> s_polling{0};
  static const int32_t s_maxPolling = UsableProcessorCount() - 1;
  if (s_polling.fetch_add(1, std::memory_order_relaxed) < s_maxPolling) {
    const auto deadline = std::chrono::steady_clock::now() + kIdleConsumerPoll;
    while (self.m_state.load(std::memory_order_acquire) == IdleConsumer::kWaiting) {
      for (int i = 0; i < 16; ++i) SpinPause();
      if (std::chrono::steady_clock::now() >= deadline) break;
    }
  }
  s_polling.fetch_sub(1, std::memory_order_relaxed);
}

void VornethCommandCache::CommandFinished() {
  m_running.fetch_sub(1, std::memory_order_relaxed);
}

void VornethCommandCache::ReleaseGet() {
  TraceFunction trace("VornethCommandCache::ReleaseGet()");
  m_released = true;
  // Every waiter registers or tests the flag under m_mutex, so whoever is
  // not told here sees the flag itself.
  std::vector<std::atomic<uint32_t>*> released;
  {
    MutexLock lock(&m_mutex);
    for (IdleConsumer* consumer : m_idle) {
      if (consumer->m_state.exchange(IdleConsumer::kReleased, std::memory_order_acq_rel) == IdleConsumer::kSleeping) {
        released.push_back(&consumer->m_state);
      }
    }
    m_idle.clear();
    m_notFull.SignalAll();
  }
  for (std::atomic<uint32_t>* word : released) WakeOneWaiter(*word);
}

}  // namespace vorneth
