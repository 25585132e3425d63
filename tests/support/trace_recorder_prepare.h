// The recording trace library's view of the scopes opened through it: the
// exact arguments of each qnLogEnterFunction_PrepareEx call. Kept apart from
// the records because the record format has no room for them.
#ifndef VORNETH_TESTS_SUPPORT_TRACE_RECORDER_PREPARE_H_
#define VORNETH_TESTS_SUPPORT_TRACE_RECORDER_PREPARE_H_

#include <string>
#include <vector>

namespace vorneth::testing {

struct TracePrepareCall {
  int first = 0;       // first argument, the host passes 0
  std::string module;  // module name
  std::string scope;   // scope name
  int last = 0;        // last argument, the host passes 0
};

// A copy of every prepare call made so far in this process, in call order.
// ClearTraceRecords (trace_recorder.h) clears these too.
std::vector<TracePrepareCall> TracePrepareCalls();

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_TRACE_RECORDER_PREPARE_H_
