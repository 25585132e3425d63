// What both halves of ChildProcess (child_process.h) share. Internal to the
// platform layer.
#ifndef VORNETH_COMMON_CHILD_PROCESS_NATIVE_H_
#define VORNETH_COMMON_CHILD_PROCESS_NATIVE_H_

#include <string>

#include "common/child_process.h"

namespace vorneth::native {

// Why `options` cannot start a child, in words; empty when they can.
std::string StartOptionsProblem(const ChildProcessOptions& options);

// True when `options` asks for the child to start without standard
// descriptor `fd`.
bool StartsWithout(const ChildProcessOptions& options, int fd);

}  // namespace vorneth::native

#endif  // VORNETH_COMMON_CHILD_PROCESS_NATIVE_H_
