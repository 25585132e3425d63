#include "net/request_maker.h"

#include "platform/data_directory.h"
#include "platform/trace.h"

namespace vorneth {

std::string RequestMaker::GetAddonPath(const std::string& uuid, const std::string& version) {
  TraceFunction trace("RequestMaker::GetAddonPath");
  trace.Text("uuid.c_str ()", uuid);
  trace.Text("version.c_str ()", version);
  std::string path;
  GetDataDirectory(path);
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
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace vorneth
