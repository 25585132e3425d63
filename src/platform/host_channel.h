// The browser's channel: requests arrive on standard input, frames leave on
// standard output.
//
// Add-on libraries and dependencies run inside the host and may print to
// standard output; a stray byte there would corrupt the frame stream. So the
// host keeps a private duplicate of standard output for its frames and
// points the process's standard output at standard error. Both ends are in
// binary mode: no line-end translation anywhere.
//
// A host started with a standard stream closed would hand that descriptor
// number to the next file it opens (the store's lock file, say) and then
// write frames into it. So the first step opens every missing standard
// stream (descriptors 0 to 2, and on Windows the standard handles) on the
// null device, before anything else is opened: a missing input reads as
// empty, a missing output swallows what is written.
#ifndef VORNETH_PLATFORM_HOST_CHANNEL_H_
#define VORNETH_PLATFORM_HOST_CHANNEL_H_

#include <cstddef>

#include "platform/status.h"

namespace vorneth {

// Takes over the standard streams as described above. Call once, first
// thing in main, before any other thread starts and before anything else
// opens a file (tracing included). A failed write to a closed channel must
// not end the process (the host ends when its input ends), so broken-pipe
// signals are ignored. Fails when a missing stream cannot be replaced or the
// private duplicate cannot be made; frames then go to standard output as it
// is. The failure is traced.
Status OpenHostChannel();

// Reads up to `size` bytes of standard input into `buffer`. Returns the
// count read; 0 at end of input or on a read error.
size_t ReadHostInput(char* buffer, size_t size);

// Writes all `size` bytes to the frame output; fails with the system's
// reason on a write error (some bytes may have been written).
Status WriteHostOutput(const char* data, size_t size);

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_HOST_CHANNEL_H_
