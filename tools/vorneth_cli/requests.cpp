#include "requests.h"

#include <json/reader.h>
#include <json/value.h>

#include <memory>

#include "json/styled_writer.h"

namespace vorneth::cli {

// Strict: one value, no comments, nothing after it, as the host reads.
std::string JsonProblem(const std::string& request) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (reader->parse(request.data(), request.data() + request.size(), &value, &errors)) return {};
  // The parser's report spans lines ("* Line 1, Column 2\n  Missing ...").
  std::string message;
  bool blank = false;
  for (char c : errors) {
    const bool space = c == '\n' || c == ' ' || c == '*';
    if (space) {
      blank = !message.empty();
      continue;
    }
    if (blank) message += ' ';
    blank = false;
    message += c;
  }
  return message.empty() ? std::string("not a JSON text") : message;
}

std::string CreateRequest(const std::string& url) {
  Json::Value create(Json::objectValue);
  create["type"] = "Vorneth-I";
  create["command"] = "Create";
  create["url"] = url;
  create["version"] = "1.0";
  create["portId"] = kCreatePortId;
  return StyledWriter(StyledWriter::ControlBytes::kEscaped).write(create);
}

}  // namespace vorneth::cli
