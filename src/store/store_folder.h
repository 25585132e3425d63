// The store file "vorneth.db" in a folder given to it, and the transactions
// every store operation runs in.
//
// A StoreFolder names the folder that holds the store; it is a plain value
// (copy it freely) and looks nothing up by itself. VornethDB (vorneth_db.h)
// makes one from the data directory once per operation and hands it to the
// operations of addon_records.h and domain_permissions.h, which take it as
// their first argument; tests hand them a folder of their own.
//
// Locking: every read-modify-write holds, in this order, one process-wide
// mutex (threads of this process, whatever the folder) and an advisory lock
// on "vorneth.db.lock" beside the store (other host processes: the browser
// starts one host per port, all on the same data directory). The advisory
// lock is waited for at most kStoreLockWait: a peer that holds it and hangs
// makes each change fail after that wait (traced as "the store is locked by
// another process"), and the host goes on answering. Threads of this process
// queue on the mutex meanwhile, so each of them waits its own turn.
// A read holds the mutex only. Writes replace the file in one step
// (temporary file, flush, rename), so a reader never sees a partial file,
// and a process killed midway leaves the old or the new document plus at
// most a temporary file "vorneth.db.*.tmp", which the next write removes
// under the lock. A read thus neither waits for another process nor
// creates the lock file, and it reads the last whole document written,
// which is all the lock could have given it. (On the mutex it does wait for
// the changes of this process queued ahead of it, so a hung peer delays a
// read by their bounded waits at most.)
//
// What a store that is not a plain, whole JSON object reads as, and what a
// change does with it:
// - No file: reads as null; a change writes a file holding only its change.
// - A file that cannot be read (a folder, link, FIFO or device named
//   "vorneth.db", no read permission, an I/O error): reads as null; a change
//   fails and the file is left as it is. Nothing waits on a FIFO or device,
//   and no link is followed.
// - A file that is not whole JSON (truncated, not JSON, nested too deep):
//   reads as what the JSON reader built before the damage; a change first
//   copies the file once to "vorneth.db.damaged" (an existing copy is kept),
//   then writes the valid document built from what was read.
// - A top level other than an object or null (a foreign file): reads as
//   that value; a change leaves the file alone.
// - The lock file cannot be opened or locked, or another process held it for
//   the whole wait: a change fails and the file is left as it is.
// Every failure is traced where it happens and returned as the change's
// Status. A change that leaves the file's bytes as they were writes nothing.
#ifndef VORNETH_STORE_STORE_FOLDER_H_
#define VORNETH_STORE_STORE_FOLDER_H_

#include <json/value.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "platform/status.h"

namespace vorneth::store {

inline constexpr const char kStoreFileName[] = "vorneth.db";
inline constexpr const char kLockFileName[] = "vorneth.db.lock";
inline constexpr const char kDamagedCopyName[] = "vorneth.db.damaged";
// How long a change waits for another process's hold on the lock file: a
// few seconds, far longer than any healthy writer holds it.
inline constexpr std::chrono::milliseconds kStoreLockWait{3000};

class StoreFolder {
 public:
  // The store in `folder` (a path without a trailing separator). An empty
  // folder stands for "no folder": reads are null and changes fail.
  explicit StoreFolder(std::string folder) : m_folder(std::move(folder)) {}

  // The store in the data directory, looked up once (GetDataDirectory); no
  // folder when there is no data directory.
  static StoreFolder InDataDirectory();

  const std::string& folder() const { return m_folder; }
  // "<folder>/<name>"; empty when there is no folder.
  std::string PathOf(const char* name) const;

  // The document, under the process-wide mutex (trace scope
  // "VornethDB::ReadVornethDB").
  Json::Value Read() const;

  // One read-modify-write under the lock. `change` gets the document read
  // from disk (null or an object) and returns whether it wants it written;
  // the document is then written as compact JSON text unless that equals
  // the file's bytes. `change` is not called when the store cannot be read
  // or is foreign, or the lock is not held (see above). A JSON type error
  // thrown by `change` abandons the change. Must not be called from inside
  // `change` (the process-wide mutex is not reentrant).
  Status Change(const std::function<bool(Json::Value& document)>& change) const;

  // Replaces the document with `document`, whatever both hold (trace scope
  // "VornethDB::WriteVornethDB"), under the same rules for an unreadable or
  // damaged store as Change.
  Status Write(const Json::Value& document) const;

 private:
  std::string m_folder;
};

// Where a user of the store finds it, asked anew for every operation. The
// host's sessions look in the data directory each time (InDataDirectory),
// as VornethDB does; tests hand a folder of their own. Called from any
// thread that runs a store operation, so it must be safe to call from
// several at once.
using StoreLocator = std::function<StoreFolder()>;

// A list member of `document` for changing: added as null when absent and
// replaced by null when it is neither null nor an array, so the result is
// always null or an array (appending to null makes it an array). `document`
// must be null or an object; null becomes an object.
Json::Value& ListForChange(Json::Value& document, const char* name);

}  // namespace vorneth::store

#endif  // VORNETH_STORE_STORE_FOLDER_H_
