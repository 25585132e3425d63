// A session's add-on instance table: one slot per add-on id that can still
// be reached.
//
// Ids are given out 0, 1, 2, ... in the order Reserve takes the lock and are
// never reused within a session, but the table holds only the slots that
// can still be reached: a slot is dropped once nothing of it is left (see
// below), so a page that creates and disposes instances for hours keeps the
// table as small as the instances it holds. An id whose slot was dropped
// answers every lookup as a cleared slot without worker does: not live, no
// cache, no worker.
//
// A slot goes through these states:
//  - being created (Reserve): the instance's cache and add-on worker exist,
//    the instance value is -1, library and info are null;
//  - live (SetLive): the loaded library, the instance value the library
//    gave (0 or more) and the info object {"uuid","version","name"};
//  - cleared (Clear): instance -1, library and info null again. The add-on
//    worker and its cache stay until the owner releases them (TakeWorker),
//    which drops the slot;
//  - failed (MarkFailed): the creation failed; the slot stays not live, and
//    its worker, which stops itself once it has answered, stays until the
//    owner takes it (TakeEndedFailed, or TakeWorker at the session's end),
//    which drops the slot.
// A slot is live exactly while its instance value is not -1. Only a slot
// that is not live is dropped: a live slot keeps its library and instance
// until it is cleared.
//
// The cache of a slot is shared: whoever is about to Put into it holds a
// reference (LiveCache), so a cache released and dropped from its slot
// meanwhile stays valid until that Put has returned.
//
// Locking: every read and write of the slots holds m_lock, the session's
// add-on table lock; every operation takes it itself, so callers hold no
// lock of the table. The lock is held only for the table's own bookkeeping
// and for starting an add-on worker: never across Put, Join or a call into
// an add-on library, since an add-on worker takes the lock to mark its slot.
// All operations may be called from any thread.
#ifndef VORNETH_ADDONS_ADDON_TABLE_H_
#define VORNETH_ADDONS_ADDON_TABLE_H_

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "dispatch/command_cache.h"
#include "dispatch/command_worker.h"
#include "platform/dynamic_library.h"
#include "platform/mutex.h"

namespace vorneth {

// The instance value of a slot that is not live.
inline constexpr int32_t kNoAddOnInstance = -1;
// Add-on worker ids are this plus the add-on id.
inline constexpr int32_t kAddOnWorkerIdBase = 1000;

struct AddOnSlot {
  LibraryHandle m_library;
  int32_t m_instance = kNoAddOnInstance;
  Json::Value m_info;
  // Set when the creation failed (MarkFailed).
  bool m_failed = false;
  // The worker drains the cache: declared after it, so it is destroyed (and
  // stopped) first.
  std::shared_ptr<VornethCommandCache> m_cache;
  std::unique_ptr<VornethCommandWorker> m_worker;
};

// What the library calls of a live slot need.
struct LiveAddOn {
  LibraryHandle m_library;
  int32_t m_instance = kNoAddOnInstance;
};

class AddOnTable {
 public:
  // Makes an add-on worker for a new slot: gets the worker id and the slot's
  // cache.
  using WorkerFactory = std::function<std::unique_ptr<VornethCommandWorker>(int32_t workerId, VornethCommandCache*)>;

  AddOnTable() = default;
  AddOnTable(const AddOnTable&) = delete;
  AddOnTable& operator=(const AddOnTable&) = delete;

  // Adds a slot being created under the next id, with a new cache (whose idle consumer
  // polls before it sleeps: a page usually sends an instance its next
  // command right after the answer) and the worker that
  // `makeWorker` starts on it (worker id kAddOnWorkerIdBase + id). Returns
  // the new id; nullopt (traced, no slot added) when the worker's thread
  // could not be started.
  std::optional<int32_t> Reserve(const WorkerFactory& makeWorker) EXCLUDES(m_lock);
  // Marks a slot live. False when `addonId` names no slot or `instance` is
  // negative.
  bool SetLive(int32_t addonId, LibraryHandle library, int32_t instance, Json::Value info) EXCLUDES(m_lock);
  // Marks a slot that is not live as failed: its creation failed and its
  // worker stops itself. False when `addonId` names no such slot.
  bool MarkFailed(int32_t addonId) EXCLUDES(m_lock);
  // Clears a live slot's library, instance and info and returns what its
  // library and instance were; nullopt when it was not live.
  std::optional<LiveAddOn> Clear(int32_t addonId) EXCLUDES(m_lock);

  bool IsLive(int32_t addonId) const EXCLUDES(m_lock);
  // The library and instance of a live slot; nullopt when it is not live.
  std::optional<LiveAddOn> Live(int32_t addonId) const EXCLUDES(m_lock);
  // The live ids, ascending.
  std::vector<int32_t> LiveIds() const EXCLUDES(m_lock);
  // The ids whose slot still has its worker (live, being created or
  // failed), ascending.
  std::vector<int32_t> IdsWithWorker() const EXCLUDES(m_lock);
  // The cache of a live slot, shared with the caller; null when the slot is
  // not live. Tested and taken at one moment, under the lock.
  std::shared_ptr<VornethCommandCache> LiveCache(int32_t addonId) const EXCLUDES(m_lock);
  // The cache and worker of a slot that still has them; null otherwise.
  std::shared_ptr<VornethCommandCache> CacheOf(int32_t addonId) const EXCLUDES(m_lock);
  // The worker stays valid until TakeWorker hands it out, which only the
  // thread that ends the slot calls.
  VornethCommandWorker* WorkerOf(int32_t addonId) const EXCLUDES(m_lock);
  // Hands the slot's worker and cache to the caller (which joins the worker
  // and then destroys both, worker first) and drops the slot unless it is
  // live. Empty pointers when the slot has none.
  AddOnSlot TakeWorker(int32_t addonId) EXCLUDES(m_lock);
  // Hands the caller (which joins each worker and then destroys it) the
  // failed slots whose worker has ended, and drops them. Each slot is
  // handed out once, whichever thread asks.
  std::vector<AddOnSlot> TakeEndedFailed() EXCLUDES(m_lock);
  // True when no slot is live and every worker still held has ended: no
  // instance lives and none is being created, and no add-on worker runs.
  bool Idle() const EXCLUDES(m_lock);
  // The info objects of the live slots in ascending id, one per distinct
  // "uuid" (the smallest id wins); null when no slot is live.
  Json::Value ActiveAddOnList() const EXCLUDES(m_lock);
  // Number of ids given out.
  int32_t size() const EXCLUDES(m_lock);
  // Number of slots held (ids given out minus slots dropped).
  size_t SlotCount() const EXCLUDES(m_lock);

 private:
  bool IsLiveLocked(int32_t addonId) const REQUIRES(m_lock);
  // The slot of `addonId`; null when there is none (never given out, or
  // dropped).
  const AddOnSlot* SlotLocked(int32_t addonId) const REQUIRES(m_lock);
  AddOnSlot* SlotLocked(int32_t addonId) REQUIRES(m_lock);

  mutable Mutex m_lock;
  // The slots held, by id: ascending iteration is ascending id.
  std::map<int32_t, AddOnSlot> m_slots GUARDED_BY(m_lock);
  int32_t m_nextId GUARDED_BY(m_lock) = 0;
};

}  // namespace vorneth

#endif  // VORNETH_ADDONS_ADDON_TABLE_H_
