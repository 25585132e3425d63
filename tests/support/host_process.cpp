#include "host_process.h"

#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <system_error>

#include "json/json_conversions.h"
#include "json/styled_writer.h"

#ifndef VORNETH_HOST_PATH
#define VORNETH_HOST_PATH ""
#endif

namespace vorneth::testing {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? left : milliseconds(0);
}

std::string Quoted(std::string_view text) { return StyledWriter().write(Json::Value(std::string(text))); }

std::string Command(std::string_view type, std::string_view command, std::string_view params_json,
                    std::string_view callback_id, std::string_view port_id) {
  // Built by hand, members in the writer's order, so that `params_json`
  // reaches the host byte for byte.
  return "{\"callbackId\":" + Quoted(callback_id) + ",\"command\":" + Quoted(command) +
         ",\"params\":" + std::string(params_json) + ",\"portId\":" + Quoted(port_id) +
         ",\"type\":" + Quoted(type) + "}";
}

std::string MakeTemporaryFolder() {
  std::error_code ignored;
  std::string pattern = (std::filesystem::temp_directory_path(ignored) / "vorneth-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

}  // namespace

std::string HostUnderTestPath() {
  const char* override_path = getenv("VORNETH_HOST_UNDER_TEST");
  if (override_path != nullptr && *override_path != '\0') return override_path;
  return VORNETH_HOST_PATH;
}

std::string FixedDataDirectory() {
  const char* directory = getenv("VORNETH_HOST_DATA_DIRECTORY");
  return directory != nullptr ? directory : "";
}

std::vector<std::string> HostLauncher() {
  std::vector<std::string> words;
  const char* launcher = getenv("VORNETH_HOST_LAUNCHER");
  if (launcher == nullptr) return words;
  std::istringstream in(launcher);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

HostProcess::HostProcess(HostProcessOptions options) : options_(std::move(options)) {}

HostProcess::~HostProcess() {
  child_.Kill();
  if (owns_data_home_ && !data_home_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(data_home_, ignored);
  }
}

bool HostProcess::Start() {
  const std::string fixed = FixedDataDirectory();
  if (data_home_.empty() && !fixed.empty() && options_.data_home.empty()) {
    // The host keeps its data where it likes; start from an empty folder
    // there and leave none behind.
    std::error_code ignored;
    std::filesystem::remove_all(fixed, ignored);
    data_home_ = fixed;
    owns_data_home_ = true;
  }
  if (data_home_.empty()) {
    if (!options_.data_home.empty()) {
      data_home_ = options_.data_home;
    } else {
      data_home_ = MakeTemporaryFolder();
      owns_data_home_ = !data_home_.empty();
      if (data_home_.empty()) {
        error_ = "cannot create a temporary data folder";
        return false;
      }
    }
  }
  const std::string host = options_.host_path.empty() ? HostUnderTestPath() : options_.host_path;
  if (host.empty()) {
    error_ = "no host to test: this build has no vorneth-host and VORNETH_HOST_UNDER_TEST is not set";
    return false;
  }
  ChildProcessOptions start;
  start.command = HostLauncher();
  start.command.push_back(host);
  start.command.push_back("extension://vorneth-e2e/");  // the browser's argument
  start.environment.emplace_back("XDG_DATA_HOME", data_home_);
  start.environment.insert(start.environment.end(), options_.environment.begin(), options_.environment.end());
  start.stderr_path = options_.stderr_path;

  child_ = ChildProcess();  // a host still running from before is killed
  decoder_ = FrameDecoder();
  output_ended_ = false;
  if (!child_.Start(start)) {
    error_ = child_.error();
    return false;
  }
  error_.clear();
  return true;
}

std::string HostProcess::data_directory() const {
  const std::string fixed = FixedDataDirectory();
  return fixed.empty() ? data_home_ + "/Vorneth" : fixed;
}

std::string HostProcess::store_path() const { return data_directory() + "/vorneth.db"; }

bool HostProcess::Send(std::string_view json_text) { return SendRaw(EncodeFrame(json_text)); }

bool HostProcess::SendRaw(std::string_view bytes) {
  if (child_.Write(bytes, std::chrono::seconds(30))) return true;
  error_ = child_.error();
  return false;
}

bool HostProcess::Fill(milliseconds timeout) {
  std::string bytes;
  switch (child_.Read(bytes, timeout)) {
    case ReadStatus::kData:
      decoder_.Append(bytes);
      return true;
    case ReadStatus::kTimeout:
      return false;
    case ReadStatus::kEndOfStream:
      output_ended_ = true;
      return false;
    case ReadStatus::kError:
      error_ = child_.error();
      output_ended_ = true;
      return false;
  }
  return false;
}

bool HostProcess::FrameReady() const {
  const std::optional<uint32_t> length = decoder_.pending_length();
  return length && decoder_.buffered() - kFrameHeaderSize >= *length;
}

std::optional<std::string> HostProcess::ReadFrame(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  bool tried = false;  // even a zero timeout looks at the pipe once
  for (;;) {
    if (std::optional<std::string> body = decoder_.Next()) return body;
    if (decoder_.failed()) {
      error_ = "the host announced an impossible frame length";
      return std::nullopt;
    }
    if (output_ended_) return std::nullopt;
    if (tried && Clock::now() >= deadline) return std::nullopt;
    Fill(Left(deadline));
    tried = true;
  }
}

std::optional<Json::Value> HostProcess::ReadJson(milliseconds timeout) {
  std::optional<std::string> body = ReadFrame(timeout);
  if (!body) return std::nullopt;
  Json::Value value;
  if (!ParseJson(*body, value)) {
    error_ = "not valid JSON: " + *body;
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> HostProcess::ReadFrames(size_t count, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::vector<std::string> frames;
  while (frames.size() < count) {
    std::optional<std::string> body = ReadFrame(Left(deadline));
    if (!body) break;
    frames.push_back(std::move(*body));
  }
  return frames;
}

bool HostProcess::ExpectNoFrame(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  bool tried = false;
  for (;;) {
    if (FrameReady()) return false;
    if (output_ended_ || (tried && Clock::now() >= deadline)) return true;
    Fill(Left(deadline));
    tried = true;
  }
}

void HostProcess::CloseInput() { child_.CloseInput(); }

std::optional<int> HostProcess::WaitExit(milliseconds timeout) { return child_.Wait(timeout); }

void HostProcess::Kill() { child_.Kill(); }

std::string Create(std::string_view url, std::string_view version, std::string_view port_id) {
  return "{\"command\":\"Create\",\"portId\":" + Quoted(port_id) + ",\"type\":\"Vorneth-I\",\"url\":" + Quoted(url) +
         ",\"version\":" + Quoted(version) + "}";
}

std::string PageCommand(std::string_view command, std::string_view params_json, std::string_view callback_id,
                        std::string_view port_id) {
  return Command("Vorneth", command, params_json, callback_id, port_id);
}

std::string HostCommand(std::string_view command, std::string_view params_json, std::string_view callback_id,
                        std::string_view port_id) {
  return Command("Vorneth-I", command, params_json, callback_id, port_id);
}

}  // namespace vorneth::testing
