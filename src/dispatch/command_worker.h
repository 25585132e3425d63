// A thread that drains one command cache: it takes commands out with Get and
// runs each through a work function given at construction, one at a time, in
// the order the cache hands them out, until it is told to stop.
//
// The worker knows nothing of what the commands mean. The work function gets
// the argument given at construction and the command's name, parameters and
// callback identifier, handed over to it. An exception thrown by the work
// function is caught and the command dropped; the worker goes on with the
// next command. After each command the worker tells the cache it has
// finished (VornethCommandCache::CommandFinished).
//
// Stopping:
//  - PrepareStop only asks: a running command finishes, and the loop ends at
//    its next test of the flag. A command that Get hands out after the flag
//    was set is dropped. A worker waiting in Get keeps waiting until a
//    command arrives or the cache is released.
//  - Stop asks, releases the cache (for every worker that drains it) and
//    waits for the thread to end. On a worker that has already ended it
//    traces "Already stopped" and returns.
//  - Join waits for the thread to end; "Not joinable" when it has ended or
//    never started.
//  - The destructor runs Stop first ("Not stoped => stoping") unless the
//    worker has stopped.
// A work function that never returns blocks Stop, Join and the destructor
// for good.
//
// The cache and the argument are not owned; the cache must outlive the
// worker. PrepareStop may be called from any thread, the worker's own
// included; Stop, Join and the destructor from the owning thread only.
#ifndef VORNETH_DISPATCH_COMMAND_WORKER_H_
#define VORNETH_DISPATCH_COMMAND_WORKER_H_

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "dispatch/command_cache.h"
#include "dispatch/joinable_thread.h"

namespace vorneth {

class VornethCommandWorker {
 public:
  using WorkFunction = void (*)(void* arg, std::string command, const Json::Value& params, std::string callbackId);

  // Starts the thread. If the system refuses it, the refusal is traced, the
  // worker has no loop and Started() is false (Join then traces "Not
  // joinable"); an owner that needs the loop checks Started().
  VornethCommandWorker(int32_t id, VornethCommandCache* cache, WorkFunction work, void* arg);
  virtual ~VornethCommandWorker();
  VornethCommandWorker(const VornethCommandWorker&) = delete;
  VornethCommandWorker& operator=(const VornethCommandWorker&) = delete;

  // Whether the worker's thread was started; fixed at construction.
  bool Started() const { return m_thread->Started(); }
  // True once the loop has ended (or the worker was stopped): Join then
  // returns without waiting for a command. Any thread may ask.
  bool Ended() const { return m_stopped; }
  void PrepareStop();
  void Stop();
  void Join();

 private:
  // The thread's body; `arg` is the worker.
  static void ThreadMainFunction(void* arg);

  int32_t m_id;  // used only in the trace
  void* m_arg;
  VornethCommandCache* m_cache;
  // Created last in the constructor, once every other member is set.
  std::unique_ptr<JoinableThread> m_thread;
  std::atomic<bool> m_stop{false};
  // Set by the thread when its loop has ended, and by Stop after joining.
  std::atomic<bool> m_stopped{false};
  WorkFunction m_work;
};

}  // namespace vorneth

#endif  // VORNETH_DISPATCH_COMMAND_WORKER_H_
