// Everything the host writes towards the browser leaves through one
// FrameOutput, reached by the sessions through Callback.
//
// Each message gets the member "portId" set to the port identifier of the
// most recently read request, and a message whose length would have 0x0A as
// its low byte (266, 522, 778, ... bytes) gets an extra member
// "padding":"x", which makes it 14 bytes longer. The result is written as
// one frame: the 4-byte little-endian length and the text.
//
// The browser takes messages of at most kMaxBrowserMessage bytes from a host
// and closes the whole channel on a longer one. Such a message is never
// written: it is replaced by the same kind of message (its "rtype",
// "callbackId", "event", "instanceId" and "portId" kept when they are
// short) whose "response" is ["Error", kResultMessageTooLarge], so that the
// page learns what became of its command and the channel stays open.
//
// A message that comes with its layout (json/message_text.h) gets those
// members inserted at their places; any other message is parsed and written
// again with them, which gives the same bytes. Texts are written with
// control bytes escaped: the browser drops a message holding one raw.
//
// Ownership: main owns the FrameOutput for the whole run and hands its
// address to every session as the callback's context; it must outlive every
// session (the router destroys them first).
//
// Thread safety: every member may be called from any thread. Frames of all
// sessions leave whole under m_outputLock, so they never interleave; the
// port identifier has a lock of its own (m_portIdLock), never held together
// with the output lock.
#ifndef VORNETH_HOST_MESSAGE_OUTPUT_H_
#define VORNETH_HOST_MESSAGE_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "json/message_text.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/trace.h"

namespace vorneth {

// The longest message the browser accepts from a host, in bytes.
inline constexpr size_t kMaxBrowserMessage = size_t{1} << 20;

class FrameOutput {
 public:
  // Writes all `size` bytes of one frame, or fails with the reason.
  using WriteFunction = std::function<Status(const char* data, size_t size)>;

  explicit FrameOutput(WriteFunction write);
  FrameOutput(const FrameOutput&) = delete;
  FrameOutput& operator=(const FrameOutput&) = delete;

  // The port identifier echoed in every message, empty at start. The main
  // thread sets it for every request it reads.
  void SetLastPortId(const std::string& portId) EXCLUDES(m_portIdLock);
  std::string LastPortId() const EXCLUDES(m_portIdLock);

  // `message` with "portId" set to the last port identifier; "" stays "".
  MessageText add_PortId(MessageText message) const EXCLUDES(m_portIdLock);

  // Adds the port identifier and the padding to `text` (an empty text skips
  // both) and writes it as one frame. A failed write is traced and dropped:
  // the browser reads nothing more from a channel that cannot be written,
  // and the host ends when its input ends. Inside a PostponementScope
  // (platform/postponed_work.h) the frame is written at the thread's next
  // RunPostponedWork instead, with what else the thread left for then; the
  // output must live until then.
  void WriteMessage(MessageText message) EXCLUDES(m_portIdLock, m_outputLock);

 private:
  struct PostponedFrames;

  static void TraceWritten(TraceFunction& trace, const Status& written);
  // The replacement of `message`, too large for the browser, which it
  // always takes. Its port identifier is `portId` when given (the one
  // add_PortId would have set), else the message's own.
  static MessageText WithinBrowserLimit(const MessageText& message, TraceFunction& trace,
                                        const std::optional<std::string>& portId = std::nullopt);
  static void AppendFrame(std::string& out, const std::string& text);
  void PostponeFrame(const std::string& text);
  // Writes the calling thread's postponed frames.
  static void WritePostponed();
  static thread_local PostponedFrames t_postponed;

  mutable Mutex m_portIdLock;
  std::string m_lastPortId GUARDED_BY(m_portIdLock);

  Mutex m_outputLock;
  WriteFunction m_write GUARDED_BY(m_outputLock);
  // Where each frame is put together.
  std::string m_frame GUARDED_BY(m_outputLock);
};

// `message` with "padding":"x" added when its length is 266 or more and its
// low byte is 0x0A; otherwise `message` unchanged.
MessageText add_Padding(MessageText message);
// True when a message of `length` bytes gets the padding member.
bool NeedsPadding(size_t length);

// The host callback handed to every session: `context` is the FrameOutput
// the message goes to (a null context drops the message, traced);
// `instanceId` is ignored. An empty text is written as a frame of length 0.
void Callback(MessageText message, void* context, int32_t instanceId);

}  // namespace vorneth

#endif  // VORNETH_HOST_MESSAGE_OUTPUT_H_
