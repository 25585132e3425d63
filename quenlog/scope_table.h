// The scopes the host has prepared and not yet left: a handle for each,
// which names its scope in every line written against it.
//
// Handles count up from 1 and are never reused within a process, so a stale
// handle names nothing rather than another scope. A scope is dropped when it
// is left. Scopes that are never left stay; at kMaxOpenScopes no new one is
// opened (Open returns 0, which the host treats as "no scope"), so memory
// stays bounded whatever the host does.
//
// Thread safety: every member may be called from any thread; m_mutex guards
// the table.
#ifndef QUENLOG_SCOPE_TABLE_H_
#define QUENLOG_SCOPE_TABLE_H_

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/mutex.h"

namespace quenlog {

using vorneth::Mutex;
using vorneth::MutexLock;

inline constexpr size_t kMaxOpenScopes = 65536;

class ScopeTable {
 public:
  // A handle for the scope `name`; 0 when the table is full.
  intptr_t Open(std::string name) EXCLUDES(m_mutex);
  // The name of the scope of `handle`; empty when it names none.
  std::string Name(intptr_t handle) EXCLUDES(m_mutex);
  // Drops the scope and returns its name (empty when it named none).
  std::string Close(intptr_t handle) EXCLUDES(m_mutex);
  size_t OpenCount() EXCLUDES(m_mutex);

 private:
  Mutex m_mutex;
  intptr_t m_next GUARDED_BY(m_mutex) = 1;
  std::unordered_map<intptr_t, std::string> m_scopes GUARDED_BY(m_mutex);
};

}  // namespace quenlog

#endif  // QUENLOG_SCOPE_TABLE_H_
