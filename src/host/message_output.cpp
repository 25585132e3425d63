#include "host/message_output.h"

#include <string>
#include <utility>

#include "frame/frame_codec.h"
#include "json/json_conversions.h"
#include "json/message_text.h"
#include "json/styled_writer.h"
#include "platform/postponed_work.h"
#include "platform/trace.h"
#include "session/command_results.h"

namespace vorneth {
namespace {

constexpr StyledWriter::ControlBytes kFrameText = StyledWriter::ControlBytes::kEscaped;
constexpr size_t kKeptFrameBuffer = size_t{64} * 1024;
// Members of a message too large for the browser that its replacement
// keeps, when they are texts or numbers of at most kMaxKeptMember bytes:
// they tell the page which command or event it was.
constexpr const char* kKeptMembers[] = {"callbackId", "event", "instanceId", "portId", "rtype"};
constexpr size_t kMaxKeptMember = 1024;
// The longest text such a member can be written as: every byte escaped as
// \u00XX, and the quotes.
constexpr size_t kMaxKeptMemberText = 6 * kMaxKeptMember + 2;

bool IsShortScalar(const Json::Value& value) {
  if (value.isString()) return value.asString().size() <= kMaxKeptMember;
  return value.isIntegral();
}

// `message` with the member `name` set to the string `value`: inserted by
// its layout, or else by parsing the text and writing it again (which also
// replaces a member of that name).
MessageText WithMember(MessageText message, const char* name, const std::string& value) {
  if (message.HasLayout()) {
    std::string valueText;
    StyledWriter(kFrameText).AppendString(valueText, value);
    if (message.InsertMember(name, valueText)) return message;
  }
  Json::Value parsed;
  ParseJson(message.text(), parsed);
  if (!parsed.isObject() && !parsed.isNull()) return message;
  parsed[name] = value;
  return MessageWriter::Write(parsed, kFrameText);
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

MessageText FrameOutput::add_PortId(MessageText message) const {
  TraceFunction trace("add_PortId");
  trace.Number("response.length ()", static_cast<int32_t>(message.text().size()));
  if (message.text().empty()) return message;
  const std::string portId = LastPortId();
  trace.Text("lastPortId.c_str ()", portId);
  trace.Message("response exists, appending portid to the response");
  MessageText result = WithMember(std::move(message), "portId", portId);
  trace.Number("response.length ()", static_cast<int32_t>(result.text().size()));
  trace.Message("portid appended to the response, new response length");
  return result;
}

void FrameOutput::WriteMessage(MessageText message) {
  TraceFunction trace("Callback");
  trace.Number("response.length ()", static_cast<int32_t>(message.text().size()));
  trace.DataText("response.c_str ()", message.text());
  if (message.text().size() > kMaxBrowserMessage) {
    // Replaced before the port identifier is added, which would copy the
    // whole text once more: a message may be as large as a request.
    message = WithinBrowserLimit(message, trace, LastPortId());
  } else if (!message.text().empty()) {
    message = add_Padding(add_PortId(std::move(message)));
    if (message.text().size() > kMaxBrowserMessage) message = WithinBrowserLimit(message, trace);
  }
  const std::string& text = message.text();
  const uint32_t length = static_cast<uint32_t>(text.size());
  trace.Number("len", static_cast<int32_t>(length));
  trace.Message("new response length after appending the portId");

  // A frame written at the very end of a worker's command may wait until
  // the worker is ready for the next one. Not while tracing: the outcome of
  // the write belongs in this scope.
  if (!trace.on() && PostponementAllowed()) {
    PostponeFrame(text);
    return;
  }
  // Header and body leave in one write, so a frame is never split by
  // another thread's output. The frame is put together in a buffer kept
  // for the next one; a buffer grown by a large frame is let go.
  Status written = Status::Ok();
  {
    MutexLock lock(&m_outputLock);
    m_frame.clear();
    AppendFrame(m_frame, text);
    written = m_write(m_frame.data(), m_frame.size());
    if (m_frame.capacity() > kKeptFrameBuffer) std::string().swap(m_frame);
  }
  TraceWritten(trace, written);
}

MessageText FrameOutput::WithinBrowserLimit(const MessageText& message, TraceFunction& trace,
                                            const std::optional<std::string>& portId) {
  trace.Number("message.length ()", static_cast<int32_t>(message.text().size()));
  trace.Message("message too large for the browser, replaced by an error");
  Json::Value replacement(Json::objectValue);
  if (message.HasLayout()) {
    // Only the kept members are read, each from its own text: the message
    // may be as large as a request, and its parsed form larger still.
    for (const char* name : kKeptMembers) {
      const std::string_view text = message.MemberText(name);
      Json::Value member;
      if (text.size() <= kMaxKeptMemberText && ParseJson(text, member) && IsShortScalar(member)) {
        replacement[name] = member;
      }
    }
  } else {
    Json::Value original;
    ParseJson(message.text(), original);
    if (original.isObject()) {
      for (const char* name : kKeptMembers) {
        const Json::Value* member = original.find(name, name + std::char_traits<char>::length(name));
        if (member != nullptr && IsShortScalar(*member)) replacement[name] = *member;
      }
    }
  }
  if (portId) {
    replacement.removeMember("portId");
    if (portId->size() <= kMaxKeptMember) replacement["portId"] = *portId;
  }
  Json::Value& response = replacement["response"];
  response.append(kErrorText);
  response.append(kResultMessageTooLarge);
  return add_Padding(MessageWriter::Write(replacement, kFrameText));
}

void FrameOutput::TraceWritten(TraceFunction& trace, const Status& written) {
  if (!written.ok()) {
    trace.Text("why", written.why());
    trace.Message("response could not be written");
    trace.SetResult(-1);
    return;
  }
  trace.Message("response outputted from native");
}

// The frames this thread has left for later, all for one output.
struct FrameOutput::PostponedFrames {
  FrameOutput* m_output = nullptr;
  std::string m_frames;
};

thread_local FrameOutput::PostponedFrames FrameOutput::t_postponed;

void FrameOutput::PostponeFrame(const std::string& text) {
  if (t_postponed.m_output != this) WritePostponed();
  t_postponed.m_output = this;
  AppendFrame(t_postponed.m_frames, text);
  // Frames gathered from a long burst leave before they grow large.
  if (t_postponed.m_frames.size() >= kKeptFrameBuffer) {
    WritePostponed();
    return;
  }
  Postpone(&FrameOutput::WritePostponed);
}

void FrameOutput::WritePostponed() {
  PostponedFrames& postponed = t_postponed;
  if (postponed.m_output == nullptr || postponed.m_frames.empty()) return;
  FrameOutput& output = *postponed.m_output;
  Status written = Status::Ok();
  {
    MutexLock lock(&output.m_outputLock);
    written = output.m_write(postponed.m_frames.data(), postponed.m_frames.size());
  }
  postponed.m_frames.clear();
  if (postponed.m_frames.capacity() > kKeptFrameBuffer) std::string().swap(postponed.m_frames);
  TraceFunction trace("Callback");
  TraceWritten(trace, written);
}

void FrameOutput::AppendFrame(std::string& out, const std::string& text) {
  out += EncodeFrameLength(static_cast<uint32_t>(text.size()));
  out += text;
}

bool NeedsPadding(size_t length) {
  return length >= 266 && length % 256 == 10;
}

MessageText add_Padding(MessageText message) {
  TraceFunction trace("add_Padding");
  const size_t length = message.text().size();
  trace.Number("response.length ()", static_cast<int32_t>(length));
  if (!NeedsPadding(length)) return message;
  if (length > 266) trace.Message("did length mod 256 and the result is zero");
  trace.Number("length", static_cast<int32_t>(length));
  trace.Message("adding padding to response because of message length bug");
  MessageText result = WithMember(std::move(message), "padding", "x");
  trace.Message("added padding to the response, new response length");
  return result;
}

void Callback(MessageText message, void* context, int32_t /*instanceId*/) {
  auto* output = static_cast<FrameOutput*>(context);
  if (output == nullptr) {
    TraceFunction trace("Callback");
    trace.Message("no output for the response, dropped");
    trace.SetResult(-1);
    return;
  }
  output->WriteMessage(std::move(message));
}

}  // namespace vorneth
