#include "session/vorneth.h"

#include <chrono>
#include <thread>

#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "platform/trace.h"
#include "store/vorneth_db.h"

namespace vorneth {
namespace {

constexpr int32_t kDispatchWorkerCount = 3;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Takes `mutex` by polling, so that a lock held by a running command never
// deadlocks the destructor against that command's own progress.
void LockByPolling(std::mutex& mutex) {
  while (!mutex.try_lock()) SleepMs(10);
}

}  // namespace

Vorneth::Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context,
                 const std::string& extVersion)
    : m_extVersion(extVersion), m_callback(callback), m_callbackContext(context), m_sessionId(id) {
  TraceFunction trace("Vorneth::Vorneth");
  trace.Text("origin.c_str ()", origin);
  trace.Number("id", id);
  trace.Text("extVersion.c_str ()", extVersion);

  m_securityOrigin = std::make_unique<SecurityOrigin>();
  if (m_securityOrigin->InitFromUrl(origin.c_str())) {
    trace.Message("InitFromUrl result is true");
    m_domain = m_securityOrigin->m_origin;
    m_blacklisted = VornethDB::IsDomainBlocked(m_domain);
  } else {
    trace.Message("InitFromUrl result is false");
  }
  m_unregistered = false;
  StartDispatchWorkers();
}

Vorneth::~Vorneth() {
  TraceFunction trace("Vorneth::~Vorneth");
  m_unregistered = true;
  LockByPolling(m_dispatchLock);
  LockByPolling(m_internalDispatchLock);
  std::lock_guard<std::mutex> dispatchGuard(m_dispatchLock, std::adopt_lock);
  std::lock_guard<std::mutex> internalGuard(m_internalDispatchLock, std::adopt_lock);

  StopDispatchWorkers();
  {
    std::lock_guard<std::mutex> lock(m_callbackLock);
    m_callback = nullptr;
  }
  m_securityOrigin.reset();

  size_t count;
  {
    std::lock_guard<std::mutex> lock(m_addonLock);
    count = m_addonInstances.size();
  }
  for (size_t id = 0; id < count; ++id) {
    bool live;
    {
      std::lock_guard<std::mutex> lock(m_addonLock);
      live = IsLiveAddOn(static_cast<int32_t>(id));
    }
    if (live) DisposeAddOnInstance(static_cast<int32_t>(id), "", "", "");
  }

  std::lock_guard<std::mutex> lock(m_secureDataLock);
  m_secureData.clear();
  m_secureHandles.clear();
}

void Vorneth::StartDispatchWorkers() {
  TraceFunction trace("Vorneth::StartDispatchWorkers");
  for (int32_t i = 0; i < kDispatchWorkerCount; ++i) {
    m_workers.push_back(std::make_unique<VornethCommandWorker>(i, &m_commandCache, &DispatchWorkerFunc, this));
  }
}

void Vorneth::StopDispatchWorkers() {
  TraceFunction trace("Vorneth::StopDispatchWorkers");
  for (auto& worker : m_workers) worker->PrepareStop();
  SleepMs(10);
  m_commandCache.ReleaseGet();
  SleepMs(10);
  while (!m_workers.empty()) {
    m_workers.back()->Join();
    m_workers.pop_back();
  }
}

void Vorneth::VornethCallback(Json::Value response) {
  TraceFunction trace("Vorneth::VornethCallback");
  std::lock_guard<std::mutex> lock(m_callbackLock);
  if (m_callback == nullptr) {
    trace.Message("m_callback is NULL.");
    return;
  }
  std::string text = StyledWriter().write(response);
  trace.DataText("response.c_str ()", text);
  int32_t instanceId = 0;
  ReadInt(Member(response, "instanceId"), instanceId);
  trace.Number("instanceId", instanceId);
  trace.Message("callback instance");
  trace.Message("Callback invocation !");
  trace.Message(m_unregistered ? "m_unregistered is true" : "m_unregistered is false");
  m_callback(std::move(text), m_callbackContext, instanceId);
  trace.Message("after Callback... to verify not crashed");
}

void Vorneth::VornethDispatch(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("Vorneth::VornethDispatch");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_unregistered) {
    // The workers are stopped by the destructor, which holds m_dispatchLock.
    trace.Message("first check of crash protection against incorrect destruction of the object by the other thread");
    return;
  }
  std::lock_guard<std::mutex> lock(m_dispatchLock);
  if (m_unregistered) {
    trace.Message("second check of crash protection against incorrect destruction of the object by the other thread");
    return;
  }
  m_commandCache.Put(command, std::move(params), callbackId);
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  trace.Message("Command stored to cache");
}

}  // namespace vorneth
