// The recording trace library that the test build produces as
// "libquenlog.so": it implements the logging library's entry points and keeps
// every call as a record.
//
// A test executable that links `quenlog_recorder` has the library loaded
// before the host's trace facility looks for it, so the facility finds it
// "already loaded" and every trace call of the code under test lands here.
// A host process started with the recorder's folder on LD_LIBRARY_PATH finds
// it through the standard library search; when the environment variable
// QUENLOG_RECORD_FILE names a file, each record is also appended to that file
// as one line "<kind>\t<scope>\t<name>\t<value>\n" (tabs and line feeds in
// texts written as \t and \n), so tests can read what another process traced.
// When QUENLOG_STDOUT_NOISE is set, every trace message is also printed to
// standard output, as a badly behaved library in the host's process would.
#ifndef VORNETH_TESTS_SUPPORT_TRACE_RECORDER_H_
#define VORNETH_TESTS_SUPPORT_TRACE_RECORDER_H_

#include <string>
#include <string_view>
#include <vector>

namespace vorneth::testing {

struct TraceRecord {
  // "enter", "leave", "message", "text", "data", "number", "pointer"
  std::string kind;
  std::string scope;  // scope name the handle was prepared with
  std::string name;   // value name for named values; empty otherwise
  std::string value;  // text, message, or the number in decimal
};

// A copy of every record made so far in this process, in call order.
std::vector<TraceRecord> TraceRecords();
void ClearTraceRecords();
// True when some record of kind "message" in `scope` (any scope when empty)
// has exactly the text `message`.
bool TraceHasMessage(std::string_view message, std::string_view scope = {});
// How many records of kind "message" have exactly the text `message`.
size_t TraceCountMessage(std::string_view message);

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_SUPPORT_TRACE_RECORDER_H_
