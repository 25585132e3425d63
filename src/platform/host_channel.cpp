#include "platform/host_channel.h"

#include "platform/host_channel_native.h"
#include "platform/trace.h"

namespace vorneth {

Status OpenHostChannel() {
  // Nothing may open a file before the missing streams are replaced, and the
  // first trace call loads the logging library: so the trace scope opens
  // only afterwards.
  Status streams = native::OpenMissingStandardStreams();
  TraceFunction trace("OpenHostChannel");
  if (!streams.ok()) {
    trace.Text("why", streams.why());
    trace.Message("a missing standard stream could not be replaced");
    trace.SetResult(-1);
    return streams;
  }
  Status output = native::TakeOverStandardOutput();
  native::WidenChannelPipes();
  if (!output.ok()) {
    trace.Text("why", output.why());
    trace.Message("frames go to standard output as it is");
    trace.SetResult(-1);
  }
  return output;
}

size_t ReadHostInput(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  return native::ReadStandardInput(buffer, size);
}

Status WriteHostOutput(const char* data, size_t size) {
  if (size == 0) return Status::Ok();
  if (data == nullptr) return Status::Failed("WriteHostOutput: no data");
  return native::WriteFrameOutput(data, size);
}

}  // namespace vorneth
