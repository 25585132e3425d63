#include "dispatch/command_cache.h"

#include <chrono>
#include <thread>
#include <utility>

#include "platform/trace.h"

namespace vorneth {

VornethCommandCache::VornethCommandCache() {
  TraceFunction trace("VornethCommandCache::VornethCommandCache()");
  trace.Number("VORNETH_COMMAND_CACHE_SIZE", VORNETH_COMMAND_CACHE_SIZE);
}

VornethCommandCache::~VornethCommandCache() {
  TraceFunction trace("VornethCommandCache::~VornethCommandCache()");
}

void VornethCommandCache::Put(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("VornethCommandCache::Put()");
  trace.Text("command.c_str ()", command.c_str());
  trace.Text("callbackId.c_str ()", callbackId.c_str());
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
  trace.Text("command.c_str ()", slot.m_command.c_str());
  trace.Text("callbackId.c_str ()", slot.m_callbackId.c_str());
  trace.Message("Command stored");
  m_write = Next(m_write);

  // Hand-over. The ring is empty right after storing only when the wait for
  // room above was cut short by a release: then the held commands are lost.
  if (IsEmpty()) {
    return;
  }
  // One wake-up per stored command is enough: every consumer tests the ring
  // under m_mutex before it waits, so either it sees this command or it is
  // already waiting and gets woken. Every take notifies m_notFull, which is
  // where this producer sleeps until the ring has been drained.
  m_notEmpty.Signal();
  while (!m_released && !IsEmpty()) m_notFull.Wait(&m_mutex);
}

bool VornethCommandCache::Get(std::string& command, Json::Value& params, std::string& callbackId) {
  TraceFunction trace("VornethCommandCache::Get()");
  {
    MutexLock lock(&m_mutex);
    while (!m_released && IsEmpty()) m_notEmpty.Wait(&m_mutex);
    if (!m_released) {
      const Slot& slot = m_slots[m_read];
      command = slot.m_command;
      params = slot.m_params;
      callbackId = slot.m_callbackId;
      trace.Number("this->m_read", m_read);
      trace.Text("command->c_str ()", command.c_str());
      trace.Text("callbackId->c_str ()", callbackId.c_str());
      trace.Message("Command withdrawed");
      m_read = Next(m_read);
      // Wakes producers waiting for room and producers waiting for the
      // hand-over.
      m_notFull.SignalAll();
      return true;
    }
  }
  // A release wins over held commands. The pause, outside the lock, keeps a
  // worker that keeps calling a released cache from spinning.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return false;
}

void VornethCommandCache::ReleaseGet() {
  TraceFunction trace("VornethCommandCache::ReleaseGet()");
  m_released = true;
  // A waiter tests the flag under m_mutex and then waits atomically; taking
  // the mutex here orders the notifications after any such test, so nobody
  // that saw the flag clear can miss the wake-up.
  { MutexLock lock(&m_mutex); }
  m_notEmpty.SignalAll();
  m_notFull.SignalAll();
}

}  // namespace vorneth
