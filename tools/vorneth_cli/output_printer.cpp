#include "output_printer.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstdio>
#include <memory>

namespace vorneth::cli {
namespace {

// The frame indented for reading; a frame that is not JSON as it came.
std::string Indented(const std::string& body) {
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(body.data(), body.data() + body.size(), &value, &errors)) return body + "\n";
  // Only for the eye: what the host sends is the compact form.
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "  ";
  writer["emitUTF8"] = true;
  return Json::writeString(writer, value) + "\n";
}

}  // namespace

ReadStatus OutputPrinter::Pump(std::chrono::milliseconds timeout) {
  std::string bytes;
  const ReadStatus status = m_host.Read(bytes, timeout);
  if (status == ReadStatus::kData) {
    m_decoder.Append(bytes);
    while (std::optional<std::string> body = m_decoder.Next()) Print(*body);
  }
  return status;
}

void OutputPrinter::Print(const std::string& body) const {
  if (m_pretty) {
    const std::string text = Indented(body) + "\n";  // a blank line between frames
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
}

std::string OutputPrinter::Problem() const {
  if (m_decoder.failed()) {
    return "the host announced a frame of " + std::to_string(*m_decoder.pending_length()) +
           " bytes, more than any message can be";
  }
  if (m_decoder.buffered() == 0) return {};
  const std::optional<uint32_t> length = m_decoder.pending_length();
  if (!length) return "the host's output ended inside the 4 length bytes of a frame";
  return "the host's output ended inside a frame: " + std::to_string(m_decoder.buffered() - kFrameHeaderSize) + " of " +
         std::to_string(*length) + " bytes arrived";
}

}  // namespace vorneth::cli
