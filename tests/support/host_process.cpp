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

std::string Quoted(std::string_view text) {
  return StyledWriter().write(Json::Value(std::string(text)));
}

std::string Command(std::string_view type, std::string_view command, std::string_view params_json,
                    std::string_view callback_id, std::string_view port_id) {
  // Built by hand, members in the writer's order, so that `params_json`
  // reaches the host byte for byte.
  return "{\"callbackId\":" + Quoted(callback_id) + ",\"command\":" + Quoted(command) +
         ",\"params\":" + std::string(params_json) + ",\"portId\":" + Quoted(port_id) + ",\"type\":" + Quoted(type) +
         "}";
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

std::string HostFileUrl(const std::string& path) {
  return (HostLauncher().empty() ? "file://" : "file:///Z:") + path;
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

HostProcess::HostProcess(HostProcessOptions options) : m_options(std::move(options)) {}

HostProcess::~HostProcess() {
  m_child.Kill();
  if (m_ownsFixedDirectory) {
    std::error_code ignored;
    std::filesystem::remove_all(m_dataHome, ignored);
  }
}

bool HostProcess::Start() {
  const std::string fixed = FixedDataDirectory();
  if (m_dataHome.empty() && !fixed.empty() && m_options.data_home.empty()) {
    // The host keeps its data where it likes; start from an empty folder
    // there and leave none behind.
    std::error_code ignored;
    std::filesystem::remove_all(fixed, ignored);
    m_dataHome = fixed;
    m_ownsFixedDirectory = true;
  }
  if (m_dataHome.empty()) {
    if (!m_options.data_home.empty()) {
      m_dataHome = m_options.data_home;
    } else {
      m_scratch = std::make_unique<ScratchDir>();
      m_dataHome = m_scratch->path();
      if (m_dataHome.empty()) {
        m_error = "cannot create a temporary data folder";
        return false;
      }
    }
  }
  const std::string host = m_options.host_path.empty() ? HostUnderTestPath() : m_options.host_path;
  if (host.empty()) {
    m_error = "no host to test: this build has no vorneth-host and VORNETH_HOST_UNDER_TEST is not set";
    return false;
  }
  ChildProcessOptions start;
  start.command = HostLauncher();
  start.command.push_back(host);
  start.command.push_back("extension://vorneth-e2e/");  // the browser's argument
  start.environment.emplace_back("XDG_DATA_HOME", m_dataHome);
  start.environment.insert(start.environment.end(), m_options.environment.begin(), m_options.environment.end());
  start.stderr_path = m_options.stderr_path;
  start.closed_standard_streams = m_options.closed_standard_streams;
  start.working_directory = m_options.working_directory;

  m_child = ChildProcess();  // a host still running from before is killed
  m_decoder = FrameDecoder();
  m_outputEnded = false;
  if (!m_child.Start(start)) {
    m_error = m_child.error();
    return false;
  }
  m_error.clear();
  return true;
}

std::string HostProcess::data_directory() const {
  const std::string fixed = FixedDataDirectory();
  return fixed.empty() ? m_dataHome + "/Vorneth" : fixed;
}

std::string HostProcess::store_path() const {
  return data_directory() + "/vorneth.db";
}

bool HostProcess::Send(std::string_view json_text) {
  return SendRaw(EncodeFrame(json_text));
}

bool HostProcess::SendRaw(std::string_view bytes) {
  if (m_child.Write(bytes, std::chrono::seconds(30))) return true;
  m_error = m_child.error();
  return false;
}

bool HostProcess::Fill(milliseconds timeout) {
  std::string bytes;
  switch (m_child.Read(bytes, timeout)) {
    case ReadStatus::kData:
      m_decoder.Append(bytes);
      return true;
    case ReadStatus::kTimeout:
      return false;
    case ReadStatus::kEndOfStream:
      m_outputEnded = true;
      return false;
    case ReadStatus::kError:
      m_error = m_child.error();
      m_outputEnded = true;
      return false;
  }
  return false;
}

bool HostProcess::FrameReady() const {
  const std::optional<uint32_t> length = m_decoder.pending_length();
  return length && m_decoder.buffered() - kFrameHeaderSize >= *length;
}

std::optional<std::string> HostProcess::ReadFrame(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  bool tried = false;  // even a zero timeout looks at the pipe once
  for (;;) {
    if (std::optional<std::string> body = m_decoder.Next()) return body;
    if (m_decoder.failed()) {
      m_error = "the host announced an impossible frame length";
      return std::nullopt;
    }
    if (m_outputEnded) return std::nullopt;
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
    m_error = "not valid JSON: " + *body;
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
    if (m_outputEnded || (tried && Clock::now() >= deadline)) return true;
    Fill(Left(deadline));
    tried = true;
  }
}

void HostProcess::CloseInput() {
  m_child.CloseInput();
}

std::optional<int> HostProcess::WaitExit(milliseconds timeout) {
  return m_child.Wait(timeout);
}

void HostProcess::Kill() {
  m_child.Kill();
}

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
