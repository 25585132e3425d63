#include "addons/addon_table.h"

#include <set>
#include <string>
#include <utility>

#include "json/json_conversions.h"
#include "platform/trace.h"

namespace vorneth {

std::optional<int32_t> AddOnTable::Reserve(const WorkerFactory& makeWorker) {
  MutexLock lock(&m_lock);
  const auto addonId = static_cast<int32_t>(m_slots.size());
  AddOnSlot slot;
  slot.m_cache = std::make_shared<VornethCommandCache>(VornethCommandCache::IdleConsumers::kPoll);
  slot.m_worker = makeWorker(kAddOnWorkerIdBase + addonId, slot.m_cache.get());
  if (slot.m_worker == nullptr || !slot.m_worker->Started()) {
    TraceFunction trace("AddOnTable::Reserve");
    trace.Number("addonId", addonId);
    trace.Message("add-on worker not started");
    return std::nullopt;
  }
  m_slots.push_back(std::move(slot));
  return addonId;
}

bool AddOnTable::SetLive(int32_t addonId, LibraryHandle library, int32_t instance, Json::Value info) {
  MutexLock lock(&m_lock);
  if (addonId < 0 || static_cast<size_t>(addonId) >= m_slots.size() || instance < 0) return false;
  AddOnSlot& slot = m_slots[addonId];
  slot.m_library = library;
  slot.m_instance = instance;
  slot.m_info = std::move(info);
  return true;
}

std::optional<LiveAddOn> AddOnTable::Clear(int32_t addonId) {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return std::nullopt;
  AddOnSlot& slot = m_slots[addonId];
  const LiveAddOn cleared{slot.m_library, slot.m_instance};
  slot.m_library = LibraryHandle();
  slot.m_instance = kNoAddOnInstance;
  slot.m_info = Json::Value();
  return cleared;
}

std::optional<LiveAddOn> AddOnTable::Live(int32_t addonId) const {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return std::nullopt;
  return LiveAddOn{m_slots[addonId].m_library, m_slots[addonId].m_instance};
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
  for (size_t id = 0; id < m_slots.size(); ++id) {
    if (m_slots[id].m_instance != kNoAddOnInstance) ids.push_back(static_cast<int32_t>(id));
  }
  return ids;
}

std::vector<int32_t> AddOnTable::IdsWithWorker() const {
  MutexLock lock(&m_lock);
  std::vector<int32_t> ids;
  for (size_t id = 0; id < m_slots.size(); ++id) {
    if (m_slots[id].m_worker != nullptr) ids.push_back(static_cast<int32_t>(id));
  }
  return ids;
}

const AddOnSlot* AddOnTable::SlotLocked(int32_t addonId) const {
  if (addonId < 0 || static_cast<size_t>(addonId) >= m_slots.size()) return nullptr;
  return &m_slots[addonId];
}

std::shared_ptr<VornethCommandCache> AddOnTable::LiveCache(int32_t addonId) const {
  MutexLock lock(&m_lock);
  if (!IsLiveLocked(addonId)) return nullptr;
  return m_slots[addonId].m_cache;
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
  if (addonId < 0 || static_cast<size_t>(addonId) >= m_slots.size()) return taken;
  taken.m_cache = std::move(m_slots[addonId].m_cache);
  taken.m_worker = std::move(m_slots[addonId].m_worker);
  return taken;
}

Json::Value AddOnTable::ActiveAddOnList() const {
  Json::Value list;
  std::set<std::string> seen;
  MutexLock lock(&m_lock);
  for (const AddOnSlot& slot : m_slots) {
    if (slot.m_info.isNull()) continue;
    std::string uuid;
    ReadText(Member(slot.m_info, "uuid"), uuid);
    if (seen.insert(uuid).second) list.append(slot.m_info);
  }
  return list;
}

int32_t AddOnTable::size() const {
  MutexLock lock(&m_lock);
  return static_cast<int32_t>(m_slots.size());
}

}  // namespace vorneth
