#include "dispatch/command_cache.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/processors.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// How long a producer polls for a running consumer. A page command that needs
// no disk or network is answered well within it; a longer one is not worth
// the processor time, and the producer sleeps instead.
constexpr std::chrono::microseconds kRunningConsumerPoll{20};

}  // namespace

VornethCommandCache::VornethCommandCache() : m_mayPoll(UsableProcessorCount() > 1) {
  TraceFunction trace("VornethCommandCache::VornethCommandCache()");
  trace.Number("VORNETH_COMMAND_CACHE_SIZE", VORNETH_COMMAND_CACHE_SIZE);
}

VornethCommandCache::~VornethCommandCache() {
  TraceFunction trace("VornethCommandCache::~VornethCommandCache()");
}

void VornethCommandCache::Put(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("VornethCommandCache::Put()");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_released) {
    return;
  }

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

  // The ring is empty right after storing only when the wait for room above
  // was cut short by a release: then the held commands are lost.
  if (IsEmpty()) {
    return;
  }
  HandOver();
}

void VornethCommandCache::HandOver() {
  bool polled = false;
  while (!m_released && !IsEmpty()) {
    if (!polled && ShouldPollForRunningConsumer()) {
      polled = true;
      PollForTake();
    } else if (!m_idle.empty()) {
      IdleConsumer* consumer = m_idle.back();
      m_idle.pop_back();
      GiveOldest(*consumer);
    } else {
      // Every consumer is busy: the next one that comes back to Get takes
      // from the ring and notifies m_notFull.
      m_notFull.Wait(&m_mutex);
    }
  }
}

bool VornethCommandCache::ShouldPollForRunningConsumer() const {
  return m_mayPoll && m_running.load(std::memory_order_relaxed) > 0;
}

void VornethCommandCache::PollForTake() {
  const uint32_t takes = m_takes.load(std::memory_order_relaxed);
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

void VornethCommandCache::GiveOldest(IdleConsumer& consumer) {
  consumer.m_takenFrom = TakeOldest(consumer.m_command, consumer.m_params, consumer.m_callbackId);
  // Under m_mutex: the consumer's record lives on its stack, and it may leave
  // as soon as it sees m_takenFrom set.
  consumer.m_wake.Signal();
}

bool VornethCommandCache::Get(std::string& command, Json::Value& params, std::string& callbackId) {
  TraceFunction trace("VornethCommandCache::Get()");
  {
    MutexLock lock(&m_mutex);
    int32_t takenFrom = -1;
    if (!m_released && IsEmpty()) {
      IdleConsumer self(&m_mutex, command, params, callbackId);
      m_idle.push_back(&self);
      while (!m_released && self.m_takenFrom < 0) self.m_wake.Wait(&m_mutex);
      takenFrom = self.m_takenFrom;
      if (takenFrom < 0) std::erase(m_idle, &self);
    } else if (!m_released) {
      takenFrom = TakeOldest(command, params, callbackId);
    }
    if (takenFrom >= 0) {
      trace.Number("this->m_read", takenFrom);
      trace.Text("command->c_str ()", command);
      trace.Text("callbackId->c_str ()", callbackId);
      trace.Message("Command withdrawed");
      return true;
    }
  }
  // A release wins over held commands. The pause, outside the lock, keeps a
  // worker that keeps calling a released cache from spinning.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return false;
}

void VornethCommandCache::CommandFinished() {
  m_running.fetch_sub(1, std::memory_order_relaxed);
}

void VornethCommandCache::ReleaseGet() {
  TraceFunction trace("VornethCommandCache::ReleaseGet()");
  m_released = true;
  // Every waiter tests the flag under m_mutex before it sleeps, so waking
  // them under it reaches each one that could have missed the flag. The
  // idle consumers are woken under it also because their records live on
  // their stacks.
  MutexLock lock(&m_mutex);
  for (IdleConsumer* consumer : m_idle) consumer->m_wake.Signal();
  m_notFull.SignalAll();
}

}  // namespace vorneth
