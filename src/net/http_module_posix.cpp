#include <string>

#include "net/http_module.h"
#include "platform/dynamic_library.h"
#include "platform/mutex.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

Mutex g_moduleMutex;
HttpServices* g_moduleServices GUARDED_BY(g_moduleMutex) = nullptr;

HttpServices* LoadHttpModule() {
  TraceFunction trace("LoadHttpModule");
  const std::string folder = ExecutableDirectory();
  if (folder.empty()) {
    trace.Message("the host's own folder is unknown");
    return nullptr;
  }
  const std::string path = folder + (folder.back() == '/' ? "" : "/") + kHttpModuleFileName;
  trace.Text("path", path);
  const LibraryHandle module = LoadDynamicLibrary(path);
  if (!module) {
    trace.Message("the HTTP module could not be loaded");
    return nullptr;
  }
  const auto entry = module.LookupSymbol<HttpModuleEntry>(kHttpModuleEntryPoint);
  if (entry == nullptr) {
    trace.Message("the HTTP module has no entry point");
    return nullptr;
  }
  HttpServices* services = entry(kHttpModuleInterfaceVersion);
  if (services == nullptr) trace.Message("the HTTP module refused the interface version");
  return services;
}

}  // namespace

HttpServices* SystemHttpServices() {
  MutexLock lock(&g_moduleMutex);
  if (g_moduleServices == nullptr) g_moduleServices = LoadHttpModule();
  return g_moduleServices;
}

}  // namespace vorneth
