// check: what each browser finds where it looks, every problem with it in
// plain words, and the host itself asked for its version.
//
// The exit status is 0 when at least one registration checked is sound
// (its manifest passes every check and its host answers GetHostVersion
// with this build's version), no manifest checked has a problem, and every
// browser named with --browser has a sound registration in a scope
// checked; otherwise 1. A browser with no manifest anywhere is reported
// and is a failure only when it was named.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "host_probe.h"
#include "locations.h"
#include "manifest.h"
#include "platform/file_reader_writer.h"
#include "vorneth_version.h"

namespace vorneth::reg {
namespace {

const char* BrowserText(const Browser& browser, Effect effect) {
  const BrowserTexts& texts = TextsOf(browser);
  switch (effect) {
    case Effect::kNotFound:
      return texts.m_notFound.data();
    case Effect::kForbidden:
      return texts.m_forbidden.data();
    case Effect::kCannotStart:
      return texts.m_cannotStart.data();
    case Effect::kHostExited:
      return texts.m_hostExited.data();
    case Effect::kNone:
      break;
  }
  return nullptr;
}

// What check found for one browser in one scope.
enum class Verdict { kAbsent, kSound, kBroken };

class Checker {
 public:
  explicit Checker(const Options& options) : m_options(options) {}

  Verdict Check(const Browser& browser, Scope scope) {
    Registration registration;
    std::string why;
    const Lookup lookup = FindRegistration(m_options, browser, scope, registration, why);
    const std::string label = Label(browser, scope);
    if (lookup == Lookup::kFailed) {
      std::printf("%s: cannot look for the registration: %s\n", label.c_str(), why.c_str());
      return Verdict::kBroken;
    }
    if (lookup == Lookup::kAbsent) {
      const std::string root = m_options.m_root.empty() ? "" : " --root " + m_options.m_root;
      std::printf(
          "%s: not registered: nothing at %s (there %s reports \"%s\"); fix: vorneth-register install%s "
          "--browser %s%s\n",
          label.c_str(), registration.m_where.c_str(), browser.m_title.data(), BrowserText(browser, Effect::kNotFound),
          scope == Scope::kSystem ? " --system" : "", browser.m_name.data(),
          scope == Scope::kSystem ? root.c_str() : "");
      return Verdict::kAbsent;
    }
    std::vector<Finding> findings = Inspect(browser, registration);
    const std::string place = registration.m_where == registration.m_manifestPath
                                  ? registration.m_where
                                  : registration.m_where + " -> " + registration.m_manifestPath;
    for (const Finding& finding : findings) {
      const char* text = BrowserText(browser, finding.m_effect);
      std::printf("%s: %s: %s; fix: %s.", label.c_str(), place.c_str(), finding.m_problem.c_str(),
                  finding.m_fix.c_str());
      if (text != nullptr) std::printf(" %s then reports \"%s\"", browser.m_title.data(), text);
      std::printf("\n");
    }
    if (!findings.empty()) return Verdict::kBroken;
    std::printf("%s: registered in %s; the host answered GetHostVersion with %s\n", label.c_str(), place.c_str(),
                kHostVersionDotted);
    return Verdict::kSound;
  }

 private:
  // Every problem of the registration found at `registration`.
  std::vector<Finding> Inspect(const Browser& browser, const Registration& registration) {
    std::string text;
    const FileRead read = FileReaderWriter::ReadFile(registration.m_manifestPath, text, 1 << 20);
    if (read == FileRead::kAbsent) {
      return {
          {"the registry key names a manifest that does not exist", "run vorneth-register install", Effect::kNotFound}};
    }
    if (read != FileRead::kRead) {
      return {{"the manifest cannot be read (or is no regular file)", "make it a readable file", Effect::kNotFound}};
    }
    ManifestReading reading = ReadManifest(browser, text, m_options);
    if (reading.m_hostPath.empty()) return reading.m_findings;
    std::string host;
    if (std::optional<Finding> unusable = CheckHostFile(registration.m_manifestPath, reading.m_hostPath, host)) {
      reading.m_findings.push_back(*unusable);
    }
    if (!reading.m_findings.empty()) return reading.m_findings;
    if (std::optional<Finding> silent = Probe(browser, registration, host)) reading.m_findings.push_back(*silent);
    return reading.m_findings;
  }

  // Asks the host for its version as `browser` starts it; once per host
  // and set of arguments.
  std::optional<Finding> Probe(const Browser& browser, const Registration& registration, const std::string& host) {
    std::vector<std::string> arguments;
    if (browser.m_family == Family::kFirefox) {
      arguments = {registration.m_manifestPath, m_options.m_firefoxIds.front()};
    } else {
      arguments = {"chrome-extension://" + m_options.m_chromiumIds.front() + "/"};
    }
    std::string key = host;
    for (const std::string& argument : arguments) key += '\n' + argument;
    auto cached = m_probes.find(key);
    if (cached == m_probes.end()) cached = m_probes.emplace(key, ProbeHost(host, arguments)).first;
    const ProbeResult& result = cached->second;
    if (!result.m_answered) {
      return Finding{result.m_problem, "run the host by hand (vorneth-cli) to see why", Effect::kHostExited};
    }
    if (result.m_version != kHostVersionDotted) {
      return Finding{
          "the host answered version " + result.m_version + ", this vorneth-register belongs to " + kHostVersionDotted,
          "install vorneth-register and the host from one release", Effect::kNone};
    }
    return std::nullopt;
  }

  const Options& m_options;
  std::map<std::string, ProbeResult> m_probes;
};

}  // namespace

int RunCheck(const Options& options) {
  Checker checker(options);
  bool anySound = false;
  bool anyBroken = false;
  std::string registered;
  for (const Browser* browser : options.m_browsers) {
    bool browserSound = false;
    for (const Scope scope : ScopesOf(options)) {
      const Verdict verdict = checker.Check(*browser, scope);
      anyBroken = anyBroken || verdict == Verdict::kBroken;
      if (verdict != Verdict::kSound) continue;
      browserSound = true;
      registered += (registered.empty() ? "" : ", ") + Label(*browser, scope);
    }
    anySound = anySound || browserSound;
    if (options.m_browsersNamed && !browserSound) anyBroken = true;
  }
  std::printf("The host is registered soundly for %s.\n", registered.empty() ? "no browser" : registered.c_str());
  return anySound && !anyBroken ? kExitOk : kExitFailure;
}

}  // namespace vorneth::reg
