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
// once the cache has been released. A producer waiting for busy consumers
// sleeps on a condition variable and uses no processor time.
//
// ReleaseGet moves the cache, once and for good, into the released state:
// every waiting and every later Get returns false (after a 10 ms pause), every
// waiting Put returns, and every later Put returns without storing. Commands
// still held at that point are never delivered, and nobody is told.
//
// Thread safety: Put, Get and ReleaseGet may be called from any number of
// threads at once. The owner destroys the cache only after every thread that
// could wait on it has ended.
#ifndef VORNETH_DISPATCH_COMMAND_CACHE_H_
#define VORNETH_DISPATCH_COMMAND_CACHE_H_

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/mutex.h"

namespace vorneth {

// Number of slots in the ring; usable capacity is one less.
inline constexpr int32_t VORNETH_COMMAND_CACHE_SIZE = 4;

class VornethCommandCache {
 public:
  VornethCommandCache();
  // Wakes nobody: no thread may still be waiting on the cache.
  virtual ~VornethCommandCache();
  VornethCommandCache(const VornethCommandCache&) = delete;
  VornethCommandCache& operator=(const VornethCommandCache&) = delete;

  // Stores a copy of the command, waiting ("Full queue, waiting") while the
  // ring is full, then waits until the ring is empty. Returns at once, storing
  // nothing, on a released cache. A Put that was waiting for room when the
  // cache was released still fills the free slot, but nothing is delivered.
  void Put(std::string command, Json::Value params, std::string callbackId) EXCLUDES(m_mutex);

  // Waits for a command and copies the oldest one into the out-parameters:
  // true. On a released cache (even one still holding commands) it sleeps
  // 10 ms and returns false, leaving the out-parameters untouched.
  bool Get(std::string& command, Json::Value& params, std::string& callbackId) EXCLUDES(m_mutex);

  // Releases the cache and wakes every waiting Put and Get. Idempotent.
  void ReleaseGet() EXCLUDES(m_mutex);

 private:
  struct Slot {
    std::string m_command;
    Json::Value m_params;
    std::string m_callbackId;
  };

  static int32_t Next(int32_t index) { return (index + 1) % VORNETH_COMMAND_CACHE_SIZE; }
  bool IsEmpty() const REQUIRES(m_mutex) { return m_read == m_write; }
  bool IsFull() const REQUIRES(m_mutex) { return Next(m_write) == m_read; }

  // Guards m_slots, m_read and m_write; the condition variables wait on it.
  Mutex m_mutex;
  // Taken slots are not cleared; a slot keeps its command until overwritten.
  Slot m_slots[VORNETH_COMMAND_CACHE_SIZE] GUARDED_BY(m_mutex);
  int32_t m_write GUARDED_BY(m_mutex) = 0;  // slot the next Put fills
  int32_t m_read GUARDED_BY(m_mutex) = 0;   // slot the next Get takes
  // Written without m_mutex; read both with and without it.
  std::atomic<bool> m_released{false};
  // Consumers wait here while the ring is empty.
  CondVar m_notEmpty{&m_mutex};
  // Producers wait here while the ring is full, and after storing until the
  // ring is empty. Get notifies it after every take.
  CondVar m_notFull{&m_mutex};
};

}  // namespace vorneth

#endif  // VORNETH_DISPATCH_COMMAND_CACHE_H_
