// EventCallback: how add-on libraries and the installer talk back to the
// host. Seven names are requests to the host; every other name is an event
// relayed to the page.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/trace.h"
#include "session/vorneth.h"

namespace vorneth {
namespace {

std::unique_ptr<char[]> CopyText(const char* text) {
  const size_t size = std::strlen(text) + 1;
  auto copy = std::make_unique<char[]>(size);
  std::memcpy(copy.get(), text, size);
  return copy;
}

// A handle text to an index into the secure-data sequences, the way atoi
// reads it (leading blanks and sign, then digits). -1 when the text does not
// name an entry that was ever given out.
long HandleIndex(const char* handle, size_t size) {
  const long index = std::strtol(handle, nullptr, 10);
  if (index < 0 || static_cast<unsigned long>(index) >= size) return -1;
  return index;
}

}  // namespace

const char* Vorneth::SetSecureData(const char* data) {
  TraceFunction trace("Vorneth::SetSecureData");
  trace.DataText("data", data);
  const char* handleText;
  {
    MutexLock lock(&m_secureDataLock);
    const size_t handle = m_secureData.size();
    m_secureData.push_back(CopyText(data));
    // Ten bytes hold every handle a 32-bit count can reach.
    auto buffer = std::make_unique<char[]>(10);
    std::snprintf(buffer.get(), 10, "%zu", handle);
    handleText = buffer.get();
    m_secureHandles.push_back(std::move(buffer));
  }
  trace.DataText("result", handleText);
  trace.Message("SetSecureData");
  return handleText;
}

const char* Vorneth::GetSecureData(const char* handle) {
  MutexLock lock(&m_secureDataLock);
  TraceFunction trace("Vorneth::GetSecureData");
  trace.DataText("handleId", handle);
  const long index = HandleIndex(handle, m_secureData.size());
  const char* result = index < 0 ? nullptr : m_secureData[index].get();
  trace.DataText("result", result != nullptr ? result : "");
  trace.Message("GetSecureData");
  return result;
}

void Vorneth::AckSetSecureData(const char* handle) {
  MutexLock lock(&m_secureDataLock);
  TraceFunction trace("Vorneth::AckSetSecureData");
  trace.DataText("handleId", handle);
  const long index = HandleIndex(handle, m_secureHandles.size());
  if (index >= 0) m_secureHandles[index].reset();
}

void Vorneth::AckGetSecureData(const char* handle) {
  MutexLock lock(&m_secureDataLock);
  TraceFunction trace("Vorneth::AckGetSecureData");
  trace.DataText("handleId", handle);
  const long index = HandleIndex(handle, m_secureData.size());
  if (index >= 0) m_secureData[index].reset();
}

extern "C" const char* VORNETH_ADDON_CALL EventCallback(void* context, const char* name, const char* data) {
  TraceFunction trace("EventCallback");
  // A null name or data from an add-on reads as the empty text.
  const char* eventName = name != nullptr ? name : "";
  const char* eventData = data != nullptr ? data : "";
  trace.Text("eventName", eventName);
  trace.DataText("eventData", eventData);
  if (context == nullptr) {
    trace.Message("EventCallback: Error! Vorneth object is NULL!!");
    return nullptr;
  }
  auto* session = static_cast<Vorneth*>(context);
  const std::string_view request(eventName);
  try {
    if (request == "SetSecureData") return session->SetSecureData(eventData);
    if (request == "GetSecureData") return session->GetSecureData(eventData);
    if (request == "AckSetSecureData") {
      session->AckSetSecureData(eventData);
      return nullptr;
    }
    if (request == "AckGetSecureData") {
      session->AckGetSecureData(eventData);
      return nullptr;
    }
    if (request == "GetDomain") return session->m_domain.c_str();
    if (request == "LockDllDirectory") {
      session->LockDllDirectory();
      return nullptr;
    }
    if (request == "UnlockDllDirectory") {
      session->UnlockDllDirectory();
      return nullptr;
    }
    trace.Message("EventCallback: Vorneth-E...");
    session->SendEvent(eventName, eventData);
  } catch (...) {
    // Add-on libraries call in from their own threads and from C; nothing may
    // unwind into them. Only allocation can fail here.
    trace.Message("EventCallback: failed");
  }
  return nullptr;
}

}  // namespace vorneth
