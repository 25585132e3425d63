#include "net/request_maker.h"

#include <algorithm>

#include "net/http_client.h"
#include "net/http_module.h"
#include "platform/data_directory.h"
#include "platform/trace.h"

namespace vorneth {

std::optional<std::string> RequestMaker::GetAddonPath(const std::string& uuid, const std::string& version) {
  TraceFunction trace("RequestMaker::GetAddonPath");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  if (!IsSafePathComponent(uuid) || !IsSafePathComponent(version)) {
    trace.Message("uuid or version is not a safe folder name");
    return std::nullopt;
  }
  std::string path;
  if (!GetDataDirectory(path)) {
    trace.Message("no data directory");
    return std::nullopt;
  }
  path += kPathSeparator;
  path += "addons";
  path += kPathSeparator;
  path += uuid;
  path += kPathSeparator;
  path += version;
  path += kPathSeparator;
  return path;
}

bool RequestMaker::IsSafePathComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

int32_t RequestMaker::MakeHttpRequest(const std::string& server, const std::string& path, std::string& body,
                                      size_t& length, int32_t& status) {
  HttpServices* services = SystemHttpServices();
  if (services == nullptr) return kHttpErrorModuleNotFound;  // the loader traced why
  return RunHttpRequest(*services, server, path, body, length, status);
}

}  // namespace vorneth
