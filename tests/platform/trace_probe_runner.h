// Runs the trace probe program in a fresh process with a chosen library
// search path, so each run looks the logging library up anew.
#ifndef VORNETH_TESTS_PLATFORM_TRACE_PROBE_RUNNER_H_
#define VORNETH_TESTS_PLATFORM_TRACE_PROBE_RUNNER_H_

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vorneth::testing {

struct ProbeResult {
  bool started = false;
  std::optional<int> exit_status;  // nullopt: killed after the time limit
  std::string output;              // everything the probe wrote to stdout
};

// Runs `program` with `arguments`, LD_LIBRARY_PATH set to `library_path`,
// and QUENLOG_RECORD_FILE set to `record_file` (removed when empty). Waits
// at most 60 seconds, then kills the probe.
ProbeResult RunProbe(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& library_path, const std::filesystem::path& record_file);

// The "key=value" lines of the basic probe run as a map.
std::map<std::string, std::string> ProbeFacts(const std::string& output);

// The lines of a text file without their line feeds; empty when it is absent.
std::vector<std::string> ReadLines(const std::filesystem::path& file);

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_PLATFORM_TRACE_PROBE_RUNNER_H_
