// A second process for the lock tests: takes FileLock on the path given as
// its argument, writes "locked" or "refused" and a line feed to its standard
// output once the constructor returns, then holds the lock until its standard
// input ends (or it is killed). Exit status 2 when the argument is missing.
#include <cstdio>

#include "platform/file_lock.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const vorneth::FileLock lock(argv[1]);
  std::fputs(lock.locked() ? "locked\n" : "refused\n", stdout);
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}
