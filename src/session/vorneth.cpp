#include "session/vorneth.h"

#include <utility>

#include "json/json_conversions.h"
#include "json/message_text.h"
#include "json/styled_writer.h"
#include "platform/trace.h"
#include "session/command_results.h"
#include "store/domain_permissions.h"

namespace vorneth {
namespace {

constexpr int32_t kDispatchWorkerCount = 3;
// Messages go to the browser, which drops one that holds a raw control byte.
constexpr StyledWriter::ControlBytes kMessageText = StyledWriter::ControlBytes::kEscaped;

}  // namespace

Vorneth::Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context,
                 const std::string& extVersion)
    : Vorneth(origin, id, callback, context, extVersion, &store::StoreFolder::InDataDirectory) {}

Vorneth::Vorneth(const std::string& origin, int32_t id, HostCallback callback, void* context,
                 const std::string& extVersion, store::StoreLocator store)
    : m_store(std::move(store)),
      m_extVersion(extVersion),
      m_sessionId(id),
      m_callback(callback),
      m_callbackContext(context),
      m_addons(m_store, *this),
      m_installer(*this, m_store, m_domain) {
  TraceFunction trace("Vorneth::Vorneth");
  trace.Text("origin.c_str ()", origin);
  trace.Number("id", id);
  trace.Text("extVersion.c_str ()", extVersion);

  m_securityOrigin = std::make_unique<SecurityOrigin>();
  if (m_securityOrigin->InitFromUrl(origin.c_str())) {
    trace.Message("InitFromUrl result is true");
    m_domain = m_securityOrigin->m_origin;
    m_blacklisted = store::IsDomainBlocked(m_store(), m_domain);
  } else {
    trace.Message("InitFromUrl result is false");
  }
  m_unregistered = false;
  MutexLock lock(&m_dispatchLock);
  m_workersRunning = StartDispatchWorkers();
}

Vorneth::~Vorneth() {
  TraceFunction trace("Vorneth::~Vorneth");
  m_unregistered = true;
  // No running command takes either lock (only the dispatching thread does),
  // so holding them cannot hold up a command's progress.
  MutexLock dispatchLock(&m_dispatchLock);
  MutexLock internalLock(&m_internalDispatchLock);

  StopDispatchWorkers();
  {
    MutexLock lock(&m_callbackLock);
    m_callback = nullptr;
  }
  m_securityOrigin.reset();
  m_addons.DisposeAll();

  MutexLock lock(&m_secureDataLock);
  m_secureData.clear();
  m_secureHandles.clear();
}

bool Vorneth::StartDispatchWorkers() {
  TraceFunction trace("Vorneth::StartDispatchWorkers");
  bool allStarted = true;
  for (int32_t i = 0; i < kDispatchWorkerCount && allStarted; ++i) {
    m_workers.push_back(std::make_unique<VornethCommandWorker>(i, &m_commandCache, &DispatchWorkerFunc, this));
    allStarted = m_workers.back()->Started();
  }
  if (!allStarted) {
    // Fewer workers than the page may keep busy would let a page command
    // wait in the cache for good; the session runs none instead.
    trace.Message("dispatch workers not started: page commands are refused");
    RequestWorkersStop();
  }
  return allStarted;
}

void Vorneth::RequestWorkersStop() {
  for (auto& worker : m_workers) worker->PrepareStop();
  m_commandCache.ReleaseGet();
}

void Vorneth::StopDispatchWorkers() {
  TraceFunction trace("Vorneth::StopDispatchWorkers");
  // Each worker ends after the command it is running, or at once when idle:
  // the release wakes every Get.
  RequestWorkersStop();
  while (!m_workers.empty()) {
    m_workers.back()->Join();
    m_workers.pop_back();
  }
  m_workersRunning = false;
}

void Vorneth::Retire() {
  TraceFunction trace("Vorneth::Retire");
  MutexLock lock(&m_dispatchLock);
  if (m_retired) return;
  m_retired = true;
  // Nothing of the session is queued (a Put returns only once a worker has
  // taken its command), so the workers end once they are idle.
  RequestWorkersStop();
}

bool Vorneth::JoinEndedWorkers() {
  MutexLock lock(&m_dispatchLock);
  if (!m_retired) return m_workers.empty();
  std::erase_if(m_workers, [](const std::unique_ptr<VornethCommandWorker>& worker) {
    if (!worker->Ended()) return false;
    worker->Join();
    return true;
  });
  return m_workers.empty();
}

bool Vorneth::Finished() {
  return JoinEndedWorkers() && m_addons.table().Idle();
}

bool Vorneth::WorkersRunning() const {
  MutexLock lock(&m_dispatchLock);
  return m_workersRunning && !m_retired;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the signature every caller of this operation uses.
void Vorneth::VornethCallback(Json::Value response) {
  TraceFunction trace("Vorneth::VornethCallback");
  int32_t instanceId = 0;
  ReadInt(Member(response, "instanceId"), instanceId);
  MessageText message = MessageWriter::Write(response, kMessageText);
  // The value is not kept while its text is written: it may be large.
  response = Json::Value();
  Deliver(trace, std::move(message), instanceId);
}

void Vorneth::SendAnswer(const char* rtype, const std::string& callbackId, std::string_view response) {
  TraceFunction trace("Vorneth::VornethCallback");
  MessageWriter writer(kMessageText);
  writer.Text("callbackId", callbackId);
  writer.Number("instanceId", m_sessionId);
  writer.Written("response", response, /*exact=*/true);
  writer.Text("rtype", rtype);
  Deliver(trace, std::move(writer).Finish(), m_sessionId);
}

void Vorneth::SendEvent(const char* name, const char* data) {
  TraceFunction trace("Vorneth::VornethCallback");
  MessageWriter writer(kMessageText);
  writer.Text("event", name);
  writer.Number("instanceId", m_sessionId);
  writer.Text("response", data);
  writer.Text("rtype", "Vorneth-E");
  Deliver(trace, std::move(writer).Finish(), m_sessionId);
}

void Vorneth::Deliver(const TraceFunction& trace, MessageText message, int32_t instanceId) {
  MutexLock lock(&m_callbackLock);
  if (m_callback == nullptr) {
    trace.Message("m_callback is NULL.");
    return;
  }
  trace.DataText("response.c_str ()", message.text());
  trace.Number("instanceId", instanceId);
  trace.Message("callback instance");
  trace.Message("Callback invocation !");
  trace.Message(m_unregistered ? "m_unregistered is true" : "m_unregistered is false");
  m_callback(std::move(message), m_callbackContext, instanceId);
  trace.Message("after Callback... to verify not crashed");
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the signature every caller of this operation uses.
void Vorneth::VornethDispatch(std::string command, Json::Value params, std::string callbackId) {
  TraceFunction trace("Vorneth::VornethDispatch");
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  if (m_unregistered) {
    // The workers are stopped by the destructor, which holds m_dispatchLock.
    trace.Message("first check of crash protection against incorrect destruction of the object by the other thread");
    return;
  }
  MutexLock lock(&m_dispatchLock);
  if (m_unregistered) {
    trace.Message("second check of crash protection against incorrect destruction of the object by the other thread");
    return;
  }
  if (!m_workersRunning) {
    // Queued, the command would wait for a worker that never comes, and Put
    // would hold the caller with it.
    trace.Message("no dispatch worker running: command refused");
    ArrayWriter response(kMessageText);
    response.Text(kErrorText);
    SendAnswer("Vorneth", callbackId, std::move(response).Finish());
    return;
  }
  m_commandCache.Put(command, std::move(params), callbackId);
  trace.Text("command.c_str ()", command);
  trace.Text("callbackId.c_str ()", callbackId);
  trace.Message("Command stored to cache");
}

void Vorneth::RaiseAddOnEvent(const char* name, const char* data) {
  EventCallback(this, name, data);
}

void Vorneth::LockDllDirectory() {
  TraceFunction trace("Vorneth::LockDllDirectory");
  m_dllDirectory.Acquire();
}

void Vorneth::UnlockDllDirectory() {
  TraceFunction trace("Vorneth::UnlockDllDirectory");
  m_dllDirectory.Release();
}

}  // namespace vorneth
