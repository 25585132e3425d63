#include "addons/addon_table.h"

#include <set>
#include <string>
#include <utility>

#include "json/json_conversions.h"
#include "platform/trace.h"

namespace vorneth {

std::optional<int32_t> AddOnTable::Reserve(const WorkerFactory& makeWorker) {
  MutexLock lock(&m_lock);
  const int32_t addonId = m_nextId;
  AddOnSlot slot;
  slot.m_cache = std::make_shared<VornethCommandCache>(VornethCommandCache::IdleConsumers::kPoll);
  slot.m_worker = makeWorker(kAddOnWorkerIdBase + addonId, slot.m_cache.get());
  if (slot.m_worker == nullptr || !slot.m_worker->Started()) {
    TraceFunction trace("AddOnTable::Reserve");
    trace.Number("addonId", addonId);
    trace.Message("add-on worker not started");
    return std::nullopt;
  }
  m_slots.emplace(addonId, std::move(slot));
  ++m_nextId;
  return addonId;
}

bool AddOnTable::SetLive(int32_t addonId, LibraryHandle library, int32_t instance, Json::Value info) {
  MutexLock lock(&m_lock);
  AddOnSlot* slot = SlotLocked(addonId);
  if (slot == nullptr || instance < 0) return false;
  slot->m_library = library;
  slot->m_instance = instance;
  slot->m_info = std::move(info);
  return true;
}

bool AddOnTable::MarkFailed(int32_t addonId) {
  MutexLock lock(&m_lock);
  AddOnSlot* slot = SlotLocked(addonId);
  if (slot == nullptr || slot->m_instance != kNoAddOnInstance) return false;
  slot->m_failed = true;
  return true;
}

std::optional<LiveAddOn> AddOnTable::Clear(int32_t addonId) {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return std::nullopt;
  AddOnSlot& slot = *SlotLocked(addonId);
  const LiveAddOn cleared{slot.m_library, slot.m_instance};
  slot.m_library = LibraryHandle();
  slot.m_instance = kNoAddOnInstance;
  slot.m_info = Json::Value();
  return cleared;
}

std::optional<LiveAddOn> AddOnTable::Live(int32_t addonId) const {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return std::nullopt;
  const AddOnSlot& slot = *SlotLocked(addonId);
  return LiveAddOn{slot.m_library, slot.m_instance};
}

bool AddOnTable::IsLive(int32_t addonId) const {
  MutexLock lock(&m_lock);
  return IsLiveLocked(addonId);
}

bool AddOnTable::IsLiveLocked(int32_t addonId) const {
  const AddOnSlot* slot = SlotLocked(addonId);
  return slot != nullptr && slot->m_instance != kNoAddOnInstance;
}

std::vector<int32_t> AddOnTable::LiveIds() const {
  MutexLock lock(&m_lock);
  std::vector<int32_t> ids;
  for (const auto& [id, slot] : m_slots) {
    if (slot.m_instance != kNoAddOnInstance) ids.push_back(id);
  }
  return ids;
}

std::vector<int32_t> AddOnTable::IdsWithWorker() const {
  MutexLock lock(&m_lock);
  std::vector<int32_t> ids;
  for (const auto& [id, slot] : m_slots) {
    if (slot.m_worker != nullptr) ids.push_back(id);
  }
  return ids;
}

const AddOnSlot* AddOnTable::SlotLocked(int32_t addonId) const {
  const auto found = m_slots.find(addonId);
  return found != m_slots.end() ? &found->second : nullptr;
}

AddOnSlot* AddOnTable::SlotLocked(int32_t addonId) {
  const auto found = m_slots.find(addonId);
  return found != m_slots.end() ? &found->second : nullptr;
}

std::shared_ptr<VornethCommandCache> AddOnTable::LiveCache(int32_t addonId) const {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return nullptr;
  return SlotLocked(addonId)->m_cache;
}

std::shared_ptr<VornethCommandCache> AddOnTable::CacheOf(int32_t addonId) const {
  MutexLock lock(&m_lock);
  const AddOnSlot* slot = SlotLocked(addonId);
  return slot != nullptr ? slot->m_cache : nullptr;
}

VornethCommandWorker* AddOnTable::WorkerOf(int32_t addonId) const {
  MutexLock lock(&m_lock);
  const AddOnSlot* slot = SlotLocked(addonId);
  return slot != nullptr ? slot->m_worker.get() : nullptr;
}

AddOnSlot AddOnTable::TakeWorker(int32_t addonId) {
  MutexLock lock(&m_lock);
  AddOnSlot taken;
  const auto found = m_slots.find(addonId);
  if (found == m_slots.end()) return taken;
  AddOnSlot& slot = found->second;
  taken.m_cache = std::move(slot.m_cache);
  taken.m_worker = std::move(slot.m_worker);
  // Without its worker nothing reaches a slot that is not live any more:
  // no command can be handed to it and no creation can make it live.
  if (slot.m_instance == kNoAddOnInstance) m_slots.erase(found);
  return taken;
}

std::vector<AddOnSlot> AddOnTable::TakeEndedFailed() {
  MutexLock lock(&m_lock);
  std::vector<AddOnSlot> taken;
  for (auto it = m_slots.begin(); it != m_slots.end();) {
    AddOnSlot& slot = it->second;
    if (slot.m_failed && slot.m_worker != nullptr && slot.m_worker->Ended()) {
      taken.push_back(std::move(slot));
      it = m_slots.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

bool AddOnTable::Idle() const {
  MutexLock lock(&m_lock);
  for (const auto& [id, slot] : m_slots) {
    if (slot.m_instance != kNoAddOnInstance) return false;
    if (slot.m_worker != nullptr && !slot.m_worker->Ended()) return false;
  }
  return true;
}

Json::Value AddOnTable::ActiveAddOnList() const {
  Json::Value list;
  std::set<std::string> seen;
  MutexLock lock(&m_lock);
  for (const auto& [id, slot] : m_slots) {
    if (slot.m_info.isNull()) continue;
    std::string uuid;
    ReadText(Member(slot.m_info, "uuid"), uuid);
    if (seen.insert(uuid).second) list.append(slot.m_info);
  }
  return list;
}

int32_t AddOnTable::size() const {
  MutexLock lock(&m_lock);
  return m_nextId;
}

size_t AddOnTable::SlotCount() const {
  MutexLock lock(&m_lock);
  return m_slots.size();
}

}  // namespace vorneth
