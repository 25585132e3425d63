// install and uninstall: writing and removing the registrations.
#include <cstdio>
#include <string>

#include "commands.h"
#include "locations.h"
#include "manifest.h"
#include "platform/file_reader_writer.h"

namespace vorneth::reg {
namespace {

std::string TraceLibraryBesideHost(const Options& options) {
  return Beside(options.m_host, TraceLibraryFileName());
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "vorneth-register: %s\n", why.c_str());
  return kExitFailure;
}

Status CopyTraceLibrary(const Options& options) {
  std::string bytes;
  if (FileReaderWriter::ReadFile(options.m_traceLibrary, bytes) != FileRead::kRead) {
    return Status::Failed("cannot read the logging library " + options.m_traceLibrary);
  }
  return WriteReadableFile(TraceLibraryBesideHost(options), bytes);
}

}  // namespace

std::string Label(const Browser& browser, Scope scope) {
  return std::string(browser.m_title) + " (" + ScopeName(scope) + ")";
}

int RunInstall(const Options& options) {
  std::string resolved;
  if (const std::optional<Finding> unusable = CheckHostFile(options.m_host, options.m_host, resolved)) {
    return Fail(unusable->m_problem + "; name the host with --host");
  }
  int status = kExitOk;
  for (const Scope scope : ScopesOf(options)) {
    for (const Browser* browser : options.m_browsers) {
      Registration registration;
      Status done = PlanRegistration(options, *browser, scope, registration);
      if (done.ok()) done = Publish(options, registration, ManifestText(browser->m_family, options));
      if (!done.ok()) {
        status = Fail(Label(*browser, scope) + ": " + done.why());
        continue;
      }
      const bool keyed = registration.m_where != registration.m_manifestPath;
      std::printf("%s: registered in %s%s%s\n", Label(*browser, scope).c_str(), registration.m_where.c_str(),
                  keyed ? " -> " : "", keyed ? registration.m_manifestPath.c_str() : "");
    }
  }
  if (!options.m_traceLibrary.empty()) {
    const Status copied = CopyTraceLibrary(options);
    if (!copied.ok()) return Fail(copied.why());
    std::printf("logging library: copied to %s; the host traces from its next start\n",
                TraceLibraryBesideHost(options).c_str());
  }
  return status;
}

int RunUninstall(const Options& options) {
  int status = kExitOk;
  for (const Scope scope : ScopesOf(options)) {
    for (const Browser* browser : options.m_browsers) {
      Registration registration;
      bool removed = false;
      Status done = PlanRegistration(options, *browser, scope, registration);
      if (done.ok()) done = Withdraw(options, registration, removed);
      if (!done.ok()) {
        status = Fail(Label(*browser, scope) + ": " + done.why());
        continue;
      }
      std::printf("%s: %s %s\n", Label(*browser, scope).c_str(), removed ? "removed" : "nothing registered in",
                  registration.m_where.c_str());
    }
  }
  // The logging library that install may have put beside the host.
  bool removed = false;
  const Status gone = RemoveFile(TraceLibraryBesideHost(options), removed);
  if (!gone.ok()) return Fail(gone.why());
  if (removed) std::printf("logging library: removed %s\n", TraceLibraryBesideHost(options).c_str());
  return status;
}

}  // namespace vorneth::reg
