// Running vorneth-register (or any tool) as a real process for the tests:
// its standard output collected, its standard error in a file, its exit
// status, all within a bounded time. The environment changes go to the
// child only.
#ifndef VORNETH_TESTS_TOOLS_REGISTER_TOOL_RUN_H_
#define VORNETH_TESTS_TOOLS_REGISTER_TOOL_RUN_H_

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/child_process.h"

namespace vorneth::testing {

struct ToolResult {
  std::optional<int> m_status;  // nullopt: it did not end in time
  std::string m_out;
  std::string m_err;
};

using ToolEnvironment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Runs `command`; `errFile` receives its standard error and is removed
// again. Every wait is bounded by `timeout`.
inline ToolResult RunTool(const std::vector<std::string>& command, const ToolEnvironment& environment,
                          const std::string& errFile,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(120000)) {
  ToolResult result;
  ChildProcessOptions options;
  options.command = command;
  options.environment = environment;
  options.stderr_path = errFile;
  ChildProcess child;
  if (!child.Start(options)) {
    result.m_err = "cannot start: " + child.error();
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const ReadStatus status = child.Read(result.m_out, std::chrono::milliseconds(100));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  result.m_status = child.Wait(std::chrono::milliseconds(10000));
  if (!result.m_status) child.Kill();
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  result.m_err = err.str();
  std::error_code ignored;
  std::filesystem::remove(errFile, ignored);
  return result;
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_TOOLS_REGISTER_TOOL_RUN_H_
