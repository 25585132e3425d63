// verify [--uuid U] [--version V] PACKAGE: checks a package as the host
// would (package_check.h), printing each step that passed and the one that
// failed.
#include <cstdio>

#include "commands.h"
#include "files.h"
#include "net/request_maker.h"
#include "package_check.h"

namespace vorneth::pack {

constexpr OptionSpec kVerifyOptions[] = {{"uuid", OptionKind::kValue}, {"version", OptionKind::kValue}};

int RunVerify(const Arguments& args) {
  CommandLine line;
  if (const std::optional<int> status = ParseArguments(args, kVerifyOptions, line)) return *status;
  if (line.Positional().size() != 1) return ReportUsage(Status::Failed("verify takes one PACKAGE"));
  CheckRequest request;
  if (line.Has("uuid")) request.m_uuid = line.Value("uuid");
  if (line.Has("version")) request.m_version = line.Value("version");
  if (Status read = ReadWholeFile(line.Positional()[0], "package", request.m_package, kMaxPackageBytes); !read.ok()) {
    return Report(read, kExitFailure);
  }
  CheckReport report;
  if (Status checked = CheckPackage(request, report); !checked.ok()) return Report(checked, kExitFailure);
  for (const std::string& passed : report.m_passed) std::printf("ok: %s\n", passed.c_str());
  if (!report.m_failure.empty()) return Report(Status::Failed("refused: " + report.m_failure), kExitRefused);
  std::printf("ok: the host would install this package and load the add-on\n");
  return kExitOk;
}

}  // namespace vorneth::pack
