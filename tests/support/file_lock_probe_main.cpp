// A second process for the lock tests, and the hung peer of the store's
// fault tests: takes FileLock on the path given as its first argument,
// waiting at most the milliseconds given as the second (a minute when
// there is none), writes "locked", "busy" (another holder kept the lock for
// the whole wait) or "refused" and a line feed to its standard output once
// the constructor returns, then holds the lock until its standard input
// ends or it is killed. Exit status 2 when the arguments are wrong.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/file_lock.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  long waitMs = 60000;
  if (argc == 3) {
    char* end = nullptr;
    waitMs = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || waitMs < 0) return 2;
  }
  const vorneth::FileLock lock(argv[1], std::chrono::milliseconds(waitMs));
  std::fputs(lock.locked() ? "locked\n" : lock.held_elsewhere() ? "busy\n" : "refused\n", stdout);
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}
