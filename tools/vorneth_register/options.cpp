#include "options.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/path_utf8.h"
#include "platform/status.h"

namespace vorneth::reg {
namespace {

namespace fs = std::filesystem;

struct CommandName {
  std::string_view m_name;
  Command m_command;
};
constexpr CommandName kCommands[] = {
    {"install", Command::kInstall},
    {"uninstall", Command::kUninstall},
    {"check", Command::kCheck},
};

constexpr OptionSpec kOptionSpecs[] = {
    {"system", OptionKind::kFlag},            // Options::m_system
    {"browser", OptionKind::kRepeated},       // AddBrowsers
    {"extension-id", OptionKind::kRepeated},  // AddExtensionId
    {"host", OptionKind::kValue},             // kPathOptions
    {"root", OptionKind::kValue},             // kPathOptions
    {"trace-library", OptionKind::kValue},    // kPathOptions
};

// The options that name a file or folder, and where each goes as an
// absolute path.
struct PathOption {
  std::string_view m_name;
  std::string Options::*m_field;
};
constexpr PathOption kPathOptions[] = {
    {"host", &Options::m_host},
    {"root", &Options::m_root},
    {"trace-library", &Options::m_traceLibrary},
};

bool IsFirefoxId(const std::string& id) {
  if (id.size() > 2 && id.front() == '{' && id.back() == '}') return true;
  const size_t at = id.find('@');
  return at != std::string::npos && id.find_first_of(" \t\"\\/") == std::string::npos;
}

// The absolute form of the UTF-8 path `text`; false when it is not UTF-8
// or has no absolute form.
bool Absolute(const std::string& text, std::string& absolute) {
  fs::path path;
  if (!Utf8ToPath(text, path)) return false;
  std::error_code error;
  const fs::path full = fs::absolute(path, error);
  if (error) return false;
  const std::u8string utf8 = full.lexically_normal().u8string();
  absolute.assign(utf8.begin(), utf8.end());
  return true;
}

Status AddBrowsers(const std::string& value, Options& options, bool& all) {
  if (value == "all") {
    all = true;
    return Status::Ok();
  }
  const Browser* browser = FindBrowser(value);
  if (browser == nullptr) {
    return Status::Failed("unknown browser \"" + value + "\" (chrome, chromium, edge, brave, vivaldi, firefox or all)");
  }
  if (std::find(options.m_browsers.begin(), options.m_browsers.end(), browser) == options.m_browsers.end())
    options.m_browsers.push_back(browser);
  options.m_browsersNamed = true;
  return Status::Ok();
}

Status AddExtensionId(const std::string& id, Options& options) {
  std::vector<std::string>& ids = IsChromiumId(id) ? options.m_chromiumIds : options.m_firefoxIds;
  if (!IsChromiumId(id) && !IsFirefoxId(id)) {
    return Status::Failed("\"" + id +
                          "\" is no extension identifier (32 letters a to p for Chrome and its kin; "
                          "name@domain or {uuid} for Firefox)");
  }
  if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  return Status::Ok();
}

// What the parsed command line says. Sets `all` for "--browser all".
Status ReadOptions(const CommandLine& line, Options& options, bool& all) {
  if (!line.Positional().empty()) return Status::Failed("unexpected argument \"" + line.Positional().front() + "\"");
  options.m_system = line.Has("system");
  for (const std::string& browser : line.Values("browser")) {
    if (Status added = AddBrowsers(browser, options, all); !added.ok()) return added;
  }
  for (const std::string& id : line.Values("extension-id")) {
    if (Status added = AddExtensionId(id, options); !added.ok()) return added;
  }
  for (const PathOption& option : kPathOptions) {
    if (!line.Has(option.m_name)) continue;
    const std::string value = line.Value(option.m_name);
    if (value.empty() || !Absolute(value, options.*option.m_field)) {
      return Status::Failed("--" + std::string(option.m_name) + " needs a path");
    }
  }
  return Status::Ok();
}

// Fills in what the command line left out.
Status Complete(const std::string& defaultHost, const EnvironmentLookup& environment, bool all, Options& options) {
  if (all || !options.m_browsersNamed) {
    options.m_browsers.clear();
    for (const Browser& browser : AllBrowsers()) options.m_browsers.push_back(&browser);
    options.m_browsersNamed = false;
  }
  std::sort(options.m_browsers.begin(), options.m_browsers.end());
  if (options.m_chromiumIds.empty()) options.m_chromiumIds.push_back(kDefaultChromiumId);
  if (options.m_firefoxIds.empty()) options.m_firefoxIds.push_back(kDefaultFirefoxId);
  if (options.m_host.empty() && (defaultHost.empty() || !Absolute(defaultHost, options.m_host))) {
    return Status::Failed("cannot find the folder of this program; name the host with --host");
  }
  if (!options.m_traceLibrary.empty() && options.m_command != Command::kInstall) {
    return Status::Failed("--trace-library belongs to install");
  }
  options.m_home = environment("HOME").value_or("");
  options.m_configHome = environment("XDG_CONFIG_HOME").value_or("");
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the browsers do.
  if (options.m_configHome.empty() || options.m_configHome.front() != '/') {
    options.m_configHome = options.m_home.empty() ? std::string() : options.m_home + "/.config";
  }
  return Status::Ok();
}

}  // namespace

bool IsChromiumId(const std::string& id) {
  return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) { return c >= 'a' && c <= 'p'; });
}

std::vector<Scope> ScopesOf(const Options& options) {
  if (options.m_system) return {Scope::kSystem};
  if (options.m_command == Command::kCheck) return {Scope::kUser, Scope::kSystem};
  return {Scope::kUser};
}

CommandLine::Outcome ParseOptions(const std::vector<std::string>& args, const std::string& defaultHost,
                                  const EnvironmentLookup& environment, Options& options, std::string& error) {
  options = Options();
  const auto command = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const CommandName& known) {
    return !args.empty() && known.m_name == args.front();
  });
  if (command == std::end(kCommands)) return WithoutCommand(args, "install, uninstall or check", error);
  options.m_command = command->m_command;
  CommandLine line;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  const CommandLine::Outcome outcome = line.Parse(rest, kOptionSpecs);
  if (outcome != CommandLine::Outcome::kParsed) {
    error = line.error();
    return outcome;
  }
  bool all = false;
  Status read = ReadOptions(line, options, all);
  if (read.ok()) read = Complete(defaultHost, environment, all, options);
  if (read.ok()) return CommandLine::Outcome::kParsed;
  error = read.why();
  return CommandLine::Outcome::kUsageError;
}

}  // namespace vorneth::reg
