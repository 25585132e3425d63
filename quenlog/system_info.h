// What the library asks of the system besides its file: who is calling, and
// the switches in the environment.
#ifndef QUENLOG_SYSTEM_INFO_H_
#define QUENLOG_SYSTEM_INFO_H_

#include <cstdint>

namespace quenlog {

// The calling process's and thread's system identifiers.
uint64_t CurrentProcessId();
uint64_t CurrentThreadId();
// True when the environment variable `name` is set to exactly "1".
bool EnvironmentFlag(const char* name);

}  // namespace quenlog

#endif  // QUENLOG_SYSTEM_INFO_H_
