// The browser's channel: requests arrive on standard input, frames leave on
// standard output.
//
// Add-on libraries and dependencies run inside the host and may print to
// standard output; a stray byte there would corrupt the frame stream. So the
// host keeps a private duplicate of standard output for its frames and
// points the process's standard output at standard error. Both ends are in
// binary mode: no line-end translation anywhere.
#ifndef VORNETH_PLATFORM_HOST_CHANNEL_H_
#define VORNETH_PLATFORM_HOST_CHANNEL_H_

#include <cstddef>

namespace vorneth {

// Takes over the standard streams as described above. Call once, first
// thing in main, before any other thread starts. A failed write to a closed
// channel must not end the process (the host ends when its input ends), so
// broken-pipe signals are ignored. Returns false when the private duplicate
// cannot be made; frames then go to standard output as it is.
bool OpenHostChannel();

// Reads up to `size` bytes of standard input into `buffer`. Returns the
// count read; 0 at end of input or on a read error.
size_t ReadHostInput(char* buffer, size_t size);

// Writes all `size` bytes to the frame output. False on a write error.
bool WriteHostOutput(const char* data, size_t size);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_HOST_CHANNEL_H_
