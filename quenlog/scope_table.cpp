#include "scope_table.h"

#include <limits>
#include <utility>

namespace quenlog {

intptr_t ScopeTable::Open(std::string name) {
  MutexLock lock(&m_mutex);
  if (m_scopes.size() >= kMaxOpenScopes || m_next == std::numeric_limits<intptr_t>::max()) return 0;
  const intptr_t handle = m_next++;
  m_scopes.emplace(handle, std::move(name));
  return handle;
}

std::string ScopeTable::Name(intptr_t handle) {
  MutexLock lock(&m_mutex);
  const auto found = m_scopes.find(handle);
  return found != m_scopes.end() ? found->second : std::string();
}

std::string ScopeTable::Close(intptr_t handle) {
  MutexLock lock(&m_mutex);
  const auto found = m_scopes.find(handle);
  if (found == m_scopes.end()) return {};
  std::string name = std::move(found->second);
  m_scopes.erase(found);
  return name;
}

size_t ScopeTable::OpenCount() {
  MutexLock lock(&m_mutex);
  return m_scopes.size();
}

}  // namespace quenlog
