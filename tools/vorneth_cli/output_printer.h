// Prints the host's output as it arrives: each whole frame as one line, or,
// for reading by eye, indented over several lines with a blank line after
// it. Used from the client's main thread only.
#ifndef VORNETH_TOOLS_VORNETH_CLI_OUTPUT_PRINTER_H_
#define VORNETH_TOOLS_VORNETH_CLI_OUTPUT_PRINTER_H_

#include <chrono>
#include <string>

#include "common/child_process.h"
#include "frame/frame_codec.h"

namespace vorneth::cli {

class OutputPrinter {
 public:
  OutputPrinter(ChildProcess& host, bool pretty) : m_host(host), m_pretty(pretty) {}

  // Waits at most `timeout` for output and prints the frames it completes.
  // Returns the read status (kEndOfStream once the host closed its output).
  ReadStatus Pump(std::chrono::milliseconds timeout);

  // Empty when the output so far consists of whole frames; otherwise what
  // is wrong with it.
  std::string Problem() const;

 private:
  void Print(const std::string& body) const;

  ChildProcess& m_host;
  const bool m_pretty;
  FrameDecoder m_decoder;
};

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_OUTPUT_PRINTER_H_
