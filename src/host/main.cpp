// vorneth-host: the browser starts it and talks to it over standard input
// and output. The host reads no option (browsers pass arguments of their
// own) and ends with status 0 when its input ends.
#include "frame/frame_reader.h"
#include "host/message_output.h"
#include "host/request_router.h"
#include "net/request_maker.h"
#include "platform/host_channel.h"
#include "platform/trace.h"

// A request may carry a whole add-on package; a longer frame is drained.
static_assert(vorneth::FrameReader::kMaxBody == vorneth::kMaxPackageBytes,
              "the longest request frame kept is the largest package");

int main() {
  // First of all: it replaces missing standard streams before any file is
  // opened. A failure is traced there; the host serves the browser anyway.
  static_cast<void>(vorneth::OpenHostChannel());
  vorneth::TraceFunction trace("main");
  vorneth::FrameOutput output(&vorneth::WriteHostOutput);
  {
    vorneth::RequestRouter router(&output);
    vorneth::FrameReader reader(&vorneth::ReadHostInput);
    std::string body;
    while (reader.ReadFrame(body)) router.Route(body);
  }
  return 0;
}
