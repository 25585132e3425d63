// posix_spawn's attribute objects with owners, and what every child of the
// platform layer starts with. Internal to the POSIX side of the platform
// layer (child processes, the credentials dialog).
#ifndef VORNETH_PLATFORM_SPAWN_POSIX_H_
#define VORNETH_PLATFORM_SPAWN_POSIX_H_

#include <signal.h>
#include <spawn.h>

#include <string>
#include <vector>

namespace vorneth {

struct SpawnActions {
  posix_spawn_file_actions_t m_value;
  SpawnActions() { posix_spawn_file_actions_init(&m_value); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&m_value); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

// Attributes that start the child with an empty signal mask and SIGPIPE at
// its default, whatever the caller did with them; `flags` adds more
// (POSIX_SPAWN_SETPGROUP, say, with its value set by the caller).
struct SpawnAttributes {
  posix_spawnattr_t m_value;
  explicit SpawnAttributes(short flags = 0) {
    posix_spawnattr_init(&m_value);
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&m_value, &empty);
    posix_spawnattr_setsigdefault(&m_value, &defaults);
    posix_spawnattr_setflags(&m_value, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | flags));
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&m_value); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

// The texts' pointers followed by a null pointer, as argv and envp are
// given; valid while `texts` is neither changed nor destroyed.
inline std::vector<char*> PointerArray(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_SPAWN_POSIX_H_
