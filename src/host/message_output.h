// Everything the host writes towards the browser leaves through Callback.
//
// Each message gets the member "portId" set to the port identifier of the
// most recently read request, and a message whose length would have 0x0A as
// its low byte (266, 522, 778, ... bytes) gets an extra member
// "padding":"x", which makes it 14 bytes longer. The result is written as
// one frame: the 4-byte little-endian length and the text.
//
// Thread safety: all functions may be called from any thread. Every frame of
// every session leaves whole under one process-wide output lock, so frames
// never interleave; the port identifier has a lock of its own.
#ifndef VORNETH_HOST_MESSAGE_OUTPUT_H_
#define VORNETH_HOST_MESSAGE_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <string>

namespace vorneth {

// The port identifier echoed in every message, empty at start.
void SetLastPortId(const std::string& portId);
std::string GetLastPortId();

// `text` with "portId" set to the last port identifier; "" stays "".
std::string add_PortId(const std::string& text);
// `text` with "padding":"x" added when its length is 266 or more and its low
// byte is 0x0A; otherwise `text` unchanged.
std::string add_Padding(const std::string& text);
// True when a message of `length` bytes gets the padding member.
bool NeedsPadding(size_t length);

// The host callback handed to every session. `context` and `instanceId` are
// ignored. An empty text is written as a frame of length 0.
void Callback(std::string text, void* context, int32_t instanceId);

// Where frames go: the browser's channel unless replaced (tests).
using FrameOutput = std::function<bool(const char* data, size_t size)>;
void SetFrameOutput(FrameOutput output);

}  // namespace vorneth

#endif  // VORNETH_HOST_MESSAGE_OUTPUT_H_
