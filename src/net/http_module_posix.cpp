#include "net/http_module.h"
#include "platform/dynamic_library.h"
#include "platform/mutex.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

Mutex g_moduleMutex;
HttpServices* g_moduleServices GUARDED_BY(g_moduleMutex) = nullptr;

HttpServices* LoadHttpModule() {
  const auto entry = LoadModuleEntry<HttpModuleEntry>(kHttpModuleFileName, kHttpModuleEntryPoint);
  if (entry == nullptr) return nullptr;  // traced
  HttpServices* services = entry(kHttpModuleInterfaceVersion);
  if (services == nullptr) {
    TraceFunction trace("LoadHttpModule");
    trace.Message("the HTTP module refused the interface version");
  }
  return services;
}

}  // namespace

HttpServices* SystemHttpServices() {
  MutexLock lock(&g_moduleMutex);
  if (g_moduleServices == nullptr) g_moduleServices = LoadHttpModule();
  return g_moduleServices;
}

}  // namespace vorneth
