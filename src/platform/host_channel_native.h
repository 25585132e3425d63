// The per-platform halves of the host channel (host_channel.h). Internal to
// the platform layer: host_channel.cpp calls them in order and traces what
// fails; the halves do no tracing of their own.
#ifndef VORNETH_PLATFORM_HOST_CHANNEL_NATIVE_H_
#define VORNETH_PLATFORM_HOST_CHANNEL_NATIVE_H_

#include <cstddef>

#include "platform/status.h"

namespace vorneth::native {

// Opens each missing standard stream on the null device, input first. Must
// run before anything else opens a file: it relies on the system handing
// out the lowest free descriptor.
Status OpenMissingStandardStreams();
// Makes the private duplicate of standard output, points standard output at
// standard error and puts the channel in binary mode.
Status TakeOverStandardOutput();
// Asks for larger pipe buffers on both ends of the channel; a hint that
// may change nothing.
void WidenChannelPipes();
size_t ReadStandardInput(char* buffer, size_t size);
Status WriteFrameOutput(const char* data, size_t size);

}  // namespace vorneth::native

#endif  // VORNETH_PLATFORM_HOST_CHANNEL_NATIVE_H_
