// Serialised access to the store file "vorneth.db".
//
// Every read and every read-modify-write of the store runs while holding,
// in this order, one process-wide mutex (threads of this process) and an
// advisory lock on "vorneth.db.lock" beside the store (other host processes:
// the browser starts one host per port, all on the same data directory).
// Writes replace the file in one step (temporary file, flush, rename), so a
// reader never sees a partial file and a process killed midway leaves either
// the old or the new document.
//
// When the advisory lock cannot be taken (no data directory, or a folder
// where the lock file cannot be created) reads still go ahead, since the file
// is only ever replaced whole, but no change is written: an update that
// cannot be protected from other processes is not made, as for an unwritable
// store.
//
// Internal to the store; VornethDB's operations are built on it.
#ifndef VORNETH_STORE_STORE_TRANSACTION_H_
#define VORNETH_STORE_STORE_TRANSACTION_H_

#include <json/value.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/file_lock.h"

namespace vorneth::store {

inline constexpr const char kStoreFileName[] = "vorneth.db";
inline constexpr const char kLockFileName[] = "vorneth.db.lock";

// Holds the store for the calling thread from construction to destruction.
// Not reentrant: a thread holding one must not construct another.
class StoreLock {
 public:
  StoreLock();
  ~StoreLock() = default;
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  // True when the cross-process lock is held as well; changes are written
  // only then.
  bool exclusive() const { return file_lock_.has_value() && file_lock_->locked(); }

 private:
  std::lock_guard<std::mutex> guard_;
  std::optional<FileLock> file_lock_;
};

// The store as read from disk: its exact bytes and the parsed document.
struct StoreContents {
  std::string text;      // empty when the file is absent or unreadable
  Json::Value document;  // whatever the JSON reader built from `text`
};

// Reads and parses the store (trace scope "VornethDB::ReadVornethDB"). The
// data directory is looked up anew. The caller holds a StoreLock.
StoreContents LoadStore();

// Replaces the store with `text` in one step (trace scope
// "VornethDB::WriteVornethDB"). The data directory is looked up anew; when
// it is unavailable or the replacement fails nothing changes. The caller
// holds an exclusive StoreLock.
void SaveStore(const std::string& text);

// The current document, read under the lock.
Json::Value ReadStore();

// One read-modify-write under the lock. `change` gets the document read from
// disk and returns whether it wants it written; the document is then written
// (as the compact JSON text) unless that text equals the file's bytes
// already. `change` is not called, and nothing is written, when the document
// is neither null nor an object (a foreign file is left alone rather than
// destroyed) or when the lock is not exclusive. A JSON type error thrown by
// `change` abandons the change. Must not be called from inside `change`.
void ChangeStore(const std::function<bool(Json::Value& document)>& change);

}  // namespace vorneth::store

#endif  // VORNETH_STORE_STORE_TRANSACTION_H_
