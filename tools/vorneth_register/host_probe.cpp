#include "host_probe.h"

#include <json/value.h>

#include <optional>

#include "common/child_process.h"
#include "frame/frame_codec.h"
#include "json/json_conversions.h"
#include "locations.h"

namespace vorneth::reg {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kCreate[] =
    R"({"type":"Vorneth-I","command":"Create","url":"https://vorneth-register.invalid/","version":"1.0","portId":"1"})";
constexpr char kGetHostVersion[] =
    R"({"type":"Vorneth-I","command":"GetHostVersion","params":[],"callbackId":"1","portId":"1"})";

// The version in `body` when it is the answer to the probe's request.
std::optional<std::string> VersionAnswer(const std::string& body) {
  Json::Value answer;
  if (!ParseJson(body, answer) || !IsString(Member(answer, "callbackId"), "1")) return std::nullopt;
  std::string version;
  if (!ReadText(Member(answer, "response"), version)) return std::nullopt;
  return version;
}

// Reads frames until the answer comes, the output ends or time runs out.
ProbeResult AwaitAnswer(ChildProcess& child, milliseconds timeout, Clock::time_point deadline) {
  ProbeResult result;
  FrameDecoder decoder;
  while (Clock::now() < deadline) {
    std::string bytes;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()) + milliseconds(1);
    const ReadStatus status = child.Read(bytes, left);
    if (status == ReadStatus::kEndOfStream || status == ReadStatus::kError) {
      result.m_problem = "the host ended without answering GetHostVersion";
      return result;
    }
    decoder.Append(bytes);
    while (std::optional<std::string> body = decoder.Next()) {
      if (std::optional<std::string> version = VersionAnswer(*body)) {
        result.m_answered = true;
        result.m_version = *version;
        return result;
      }
    }
    if (decoder.failed()) {
      result.m_problem = "the host wrote a frame of impossible length";
      return result;
    }
  }
  result.m_problem = "the host did not answer GetHostVersion within " +
                     std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) + " s";
  return result;
}

}  // namespace

ProbeResult ProbeHost(const std::string& host, const std::vector<std::string>& arguments, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  ChildProcessOptions options;
  options.command.push_back(host);
  options.command.insert(options.command.end(), arguments.begin(), arguments.end());
  options.working_directory = FolderOf(host);
  ChildProcess child;
  ProbeResult result;
  if (!child.Start(options)) {
    result.m_problem = "the host could not be started: " + child.error();
    return result;
  }
  // A host that ends at once may do so before its requests are written;
  // what it then wrote still counts.
  const bool sent = child.Write(EncodeFrame(kCreate) + EncodeFrame(kGetHostVersion), timeout);
  result = AwaitAnswer(child, timeout, deadline);
  if (!sent && !result.m_answered) result.m_problem = "the host ended without answering GetHostVersion";
  if (!result.m_answered) {
    child.CloseInput();
    if (const std::optional<int> status = child.Wait(milliseconds(2000))) {
      result.m_problem += " (exit status " + std::to_string(*status) + ")";
    }
  }
  // A host sees the end of its input as the browser closing the port.
  child.CloseInput();
  if (!child.Wait(milliseconds(2000))) child.Kill();
  return result;
}

}  // namespace vorneth::reg
