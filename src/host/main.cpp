// vorneth-host: the browser starts it and talks to it over standard input
// and output. The host reads no option (browsers pass arguments of their
// own) and ends with status 0 when its input ends.
#include "frame/frame_reader.h"
#include "host/message_output.h"
#include "host/request_router.h"
#include "platform/host_channel.h"
#include "platform/trace.h"

int main() {
  vorneth::OpenHostChannel();
  vorneth::TraceFunction trace("main");
  {
    vorneth::RequestRouter router(&vorneth::Callback);
    vorneth::FrameReader reader(&vorneth::ReadHostInput);
    std::string body;
    while (reader.ReadFrame(body)) router.Route(body);
  }
  return 0;
}
