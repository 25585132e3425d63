#include "dispatch/command_worker.h"

#include <thread>
#include <utility>

#include "platform/postponed_work.h"
#include "platform/thread_scheduling.h"
#include "platform/trace.h"

namespace vorneth {

VornethCommandWorker::VornethCommandWorker(int32_t id, VornethCommandCache* cache, WorkFunction work, void* arg)
    : m_id(id), m_arg(arg), m_cache(cache), m_work(work) {
  TraceFunction trace("VornethCommandWorker::VornethCommandWorker");
  trace.Number("id", id);
  trace.Pointer("cache", cache);
  trace.Pointer("work", reinterpret_cast<const void*>(work));
  trace.Pointer("arg", arg);
  // The new thread is not given the processor here: nothing waits for it to
  // reach the cache (a Put waits for a consumer anyway), and yielding would
  // put its whole start-up in front of the session's first answer.
  m_thread = std::make_unique<JoinableThread>(&VornethCommandWorker::ThreadMainFunction, this);
}

VornethCommandWorker::~VornethCommandWorker() {
  TraceFunction trace("VornethCommandWorker::~VornethCommandWorker");
  trace.Number("m_id", m_id);
  if (!m_stopped) {
    trace.Number("m_id", m_id);
    trace.Message("Not stoped => stoping");
    Stop();
  }
  m_thread.reset();
}

void VornethCommandWorker::PrepareStop() {
  TraceFunction trace("VornethCommandWorker::PrepareStop");
  trace.Number("this->m_id", m_id);
  m_stop = true;
}

void VornethCommandWorker::Stop() {
  TraceFunction trace("VornethCommandWorker::Stop");
  trace.Number("m_id", m_id);
  if (m_stopped) {
    trace.Number("m_id", m_id);
    trace.Message("Already stopped");
    return;
  }
  m_stop = true;
  m_cache->ReleaseGet();
  Join();
  m_stopped = true;
}

void VornethCommandWorker::Join() {
  TraceFunction trace("VornethCommandWorker::Join");
  trace.Number("this->m_id", m_id);
  if (!m_thread->IsJoinable()) {
    trace.Number("m_id", m_id);
    trace.Message("Not joinable");
    // The function has returned; reap the thread so it holds nothing.
    m_thread->Join();
    return;
  }
  m_thread->Join();
}

void VornethCommandWorker::ThreadMainFunction(void* arg) {
  auto* _this = static_cast<VornethCommandWorker*>(arg);
  PreferLongTurns();
  TraceFunction trace("VornethCommandWorker::ThreadMainFunction");
  trace.Number("_this->m_id", _this->m_id);
  trace.Pointer("arg", arg);

  std::string command;
  Json::Value params;
  std::string callbackId;
  while (!_this->m_stop) {
    bool takenAfterStop = false;
    const bool taken = _this->m_cache->Get(command, params, callbackId, _this->m_stop, takenAfterStop);
    const bool stop = taken ? takenAfterStop : _this->m_stop.load();
    if (!taken) {
      trace.Number("_this->m_id", _this->m_id);
      trace.Message(stop ? "this->m_cache->Get() released, finishing worker" : "this->m_cache->Get() failed");
      continue;
    }
    if (stop) {
      _this->m_cache->CommandFinished();
      continue;  // taken after the stop request: dropped
    }
    trace.Number("_this->m_id", _this->m_id);
    trace.Text("command.c_str ()", command.c_str());
    trace.Text("callbackId.c_str ()", callbackId.c_str());
    trace.Message("New command");
    try {
      _this->m_work(_this->m_arg, std::move(command), params, std::move(callbackId));
    } catch (...) {
      // Nothing may leave the thread; the command is dropped.
      trace.Number("_this->m_id", _this->m_id);
      trace.Message("Command dropped: the work function threw");
    }
    // The parameters may be large: they are not kept until the next command.
    params = Json::Value();
    _this->m_cache->CommandFinished();
  }

  // An answer the last command left for later leaves now.
  RunPostponedWork();
  trace.Number("_this->m_id", _this->m_id);
  trace.Message("Thread's main loop ended");
  _this->m_stopped = true;
}

}  // namespace vorneth
