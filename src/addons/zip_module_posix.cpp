#include "addons/zip_archive.h"
#include "platform/dynamic_library.h"
#include "platform/mutex.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

Mutex g_moduleMutex;
ZipOpener g_moduleOpener GUARDED_BY(g_moduleMutex) = nullptr;

ZipOpener LoadZipModule() {
  const auto entry = LoadModuleEntry<ZipModuleEntry>(kZipModuleFileName, kZipModuleEntryPoint);
  if (entry == nullptr) return nullptr;  // traced
  const ZipOpener opener = entry(kZipModuleVersion);
  if (opener == nullptr) {
    TraceFunction trace("LoadZipModule");
    trace.Message("the ZIP module refused the interface version");
  }
  return opener;
}

// The module's opener, loaded on the first call; a failed load is tried
// again by the next.
ZipOpener ModuleOpener() {
  MutexLock lock(&g_moduleMutex);
  if (g_moduleOpener == nullptr) g_moduleOpener = LoadZipModule();
  return g_moduleOpener;
}

}  // namespace

bool ZipArchive::Reachable() {
  return ModuleOpener() != nullptr;
}

std::unique_ptr<ZipArchive> ZipArchive::Open(std::span<const uint8_t> bytes) {
  const ZipOpener opener = ModuleOpener();
  if (opener == nullptr) return nullptr;  // traced
  return opener(bytes);
}

}  // namespace vorneth
