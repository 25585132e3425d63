#include "host/message_output.h"

#include <utility>

#include "frame/frame_codec.h"
#include "json/json_conversions.h"
#include "json/styled_writer.h"
#include "platform/trace.h"

namespace vorneth {
namespace {

// Parses `text`, sets `name` to the string `value` and writes it again.
std::string WithMember(const std::string& text, const char* name, const std::string& value) {
  Json::Value message;
  ParseJson(text, message);
  if (!message.isObject() && !message.isNull()) return text;
  message[name] = value;
  return StyledWriter().write(message);
}

}  // namespace

FrameOutput::FrameOutput(WriteFunction write) : m_write(std::move(write)) {}

void FrameOutput::SetLastPortId(const std::string& portId) {
  MutexLock lock(&m_portIdLock);
  m_lastPortId = portId;
}

std::string FrameOutput::LastPortId() const {
  MutexLock lock(&m_portIdLock);
  return m_lastPortId;
}

std::string FrameOutput::add_PortId(const std::string& text) const {
  TraceFunction trace("add_PortId");
  trace.Number("response.length ()", static_cast<int32_t>(text.size()));
  if (text.empty()) return text;
  const std::string portId = LastPortId();
  trace.Text("lastPortId.c_str ()", portId);
  trace.Message("response exists, appending portid to the response");
  std::string result = WithMember(text, "portId", portId);
  trace.Number("response.length ()", static_cast<int32_t>(result.size()));
  trace.Message("portid appended to the response, new response length");
  return result;
}

void FrameOutput::WriteMessage(std::string text) {
  TraceFunction trace("Callback");
  trace.Number("response.length ()", static_cast<int32_t>(text.size()));
  trace.DataText("response.c_str ()", text);
  if (!text.empty()) text = add_Padding(add_PortId(text));
  const uint32_t length = static_cast<uint32_t>(text.size());
  trace.Number("len", static_cast<int32_t>(length));
  trace.Message("new response length after appending the portId");

  // Header and body leave in one write, so a frame is never split by
  // another thread's output.
  std::string frame = EncodeFrameLength(length);
  frame += text;
  Status written = Status::Ok();
  {
    MutexLock lock(&m_outputLock);
    written = m_write(frame.data(), frame.size());
  }
  if (!written.ok()) {
    trace.Text("why", written.why());
    trace.Message("response could not be written");
    trace.SetResult(-1);
    return;
  }
  trace.Message("response outputted from native");
}

bool NeedsPadding(size_t length) {
  return length >= 266 && length % 256 == 10;
}

std::string add_Padding(const std::string& text) {
  TraceFunction trace("add_Padding");
  const size_t length = text.size();
  trace.Number("response.length ()", static_cast<int32_t>(length));
  if (!NeedsPadding(length)) return text;
  if (length > 266) trace.Message("did length mod 256 and the result is zero");
  trace.Number("length", static_cast<int32_t>(length));
  trace.Message("adding padding to response because of message length bug");
  std::string result = WithMember(text, "padding", "x");
  trace.Message("added padding to the response, new response length");
  return result;
}

void Callback(std::string text, void* context, int32_t /*instanceId*/) {
  auto* output = static_cast<FrameOutput*>(context);
  if (output == nullptr) {
    TraceFunction trace("Callback");
    trace.Message("no output for the response, dropped");
    trace.SetResult(-1);
    return;
  }
  output->WriteMessage(std::move(text));
}

}  // namespace vorneth
