#include "trace_probe_runner.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "common/child_process.h"

namespace vorneth::testing {

ProbeResult RunProbe(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& library_path, const std::filesystem::path& record_file) {
  ChildProcessOptions options;
  options.command.push_back(program.string());
  options.command.insert(options.command.end(), arguments.begin(), arguments.end());
  options.environment.emplace_back("LD_LIBRARY_PATH", library_path.string());
  if (record_file.empty()) {
    options.environment.emplace_back("QUENLOG_RECORD_FILE", std::nullopt);
  } else {
    options.environment.emplace_back("QUENLOG_RECORD_FILE", record_file.string());
  }

  ProbeResult result;
  ChildProcess child;
  result.started = child.Start(options);
  if (!result.started) return result;
  child.CloseInput();

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    const ReadStatus status = child.Read(result.output, std::chrono::milliseconds(200));
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) break;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  result.exit_status = child.Wait(std::max(left, std::chrono::milliseconds(0)));
  if (!result.exit_status) child.Kill();
  return result;
}

std::map<std::string, std::string> ProbeFacts(const std::string& output) {
  std::map<std::string, std::string> facts;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) facts[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return facts;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace vorneth::testing
