// The process environment of a fuzz target that runs sessions: a data
// folder of its own and downloads that can neither leave the machine nor
// wait.
//
// PrepareHostEnvironment, called once from LLVMFuzzerInitialize before any
// session exists (it sets environment variables, which is only safe while
// no other thread runs):
//   - makes a fresh folder /dev/shm/<name>.XXXXXX, sets XDG_DATA_HOME to it
//     (the data directory, so the store and add-on folders land there) and
//     removes it at exit (not after a crash: libFuzzer then ends at once);
//   - names a proxy on a closed local port for every scheme and clears the
//     bypass lists: the download client asks libproxy, which takes these
//     variables, and curl is then told that proxy alone (it never falls back
//     on a direct connection), so every download fails at once with a
//     refused connection and no name is ever resolved.
#ifndef VORNETH_FUZZ_HOST_ENVIRONMENT_H_
#define VORNETH_FUZZ_HOST_ENVIRONMENT_H_

#include <stdlib.h>  // mkdtemp, setenv, unsetenv
#include <unistd.h>  // unlink

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "frame_checker.h"
#include "store/store_folder.h"

namespace vorneth::fuzzing {

// A proxy address where nothing listens: the discard port of the loopback.
inline constexpr char kClosedProxy[] = "http://127.0.0.1:9";

inline std::string& DataFolder() {
  static std::string folder;
  return folder;
}

inline void RemoveDataFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(DataFolder(), ignored);
}

// Removes what the sessions left in the data folder, the folder itself kept.
inline void EmptyDataFolder() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(DataFolder(), ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

// Removes the store file of the data directory, all a host command writes.
inline void RemoveStoreFile() {
  const std::string store = store::StoreFolder::InDataDirectory().PathOf(store::kStoreFileName);
  if (store.empty()) Fail("no data directory");
  if (unlink(store.c_str()) != 0 && errno != ENOENT) Fail("cannot remove the store:", store);
}

inline void PrepareHostEnvironment(const char* name) {
  std::string pattern = std::string("/dev/shm/") + name + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("no scratch folder on /dev/shm:", pattern);
  DataFolder() = pattern;
  std::atexit(&RemoveDataFolder);
  setenv("XDG_DATA_HOME", pattern.c_str(), 1);
  for (const char* proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(proxy, kClosedProxy, 1);
  }
  for (const char* bypass : {"no_proxy", "NO_PROXY"}) unsetenv(bypass);
}

// For a target whose state outlives its inputs: puts -detect_leaks=0 before
// the command line's own flags (a later -detect_leaks=1 still wins), so that
// libFuzzer does not scan for leaks after each input that allocated more
// than it released, while LeakSanitizer (ASAN_OPTIONS=detect_leaks=1, the
// default) still checks the whole run at exit. libFuzzer reads its flags
// after LLVMFuzzerInitialize, which may change them.
inline void LeakCheckAtExitOnly(int* argc, char*** argv) {
  static std::vector<char*> arguments;
  static char flag[] = "-detect_leaks=0";
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + (arguments.empty() ? 0 : 1), flag);
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
}

}  // namespace vorneth::fuzzing

#endif  // VORNETH_FUZZ_HOST_ENVIRONMENT_H_
