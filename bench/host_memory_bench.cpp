// host_memory_bench: the host's peak resident memory beside the size of the
// one large request it was sent, per request shape and size, and beside the
// size of a large store file.
//
//   host_memory_bench [--sizes 16,64,200] [--limit 4096] [--shapes a,b,..]
//                     [--store 100] [--host PATH]
//
// Sizes, the limit and the store are in MiB. Every measurement starts a host
// of its own under `prlimit --as=<limit>`, so that a host that would take
// more fails at the limit instead of taking the machine (--host names
// another host binary, say an older build, to compare with). It opens a page
// session, asks "GetVersion" and notes the host's peak so far (VmHWM of
// /proc/<pid>/status), sends the one large frame and then "GetVersion"
// again, whose answer must come, waits for the large request's answer (a
// few seconds at most: an ignored request has none), notes the peak again
// and closes the input. (wait4's ru_maxrss would not do: a process started
// by posix_spawn inherits the spawner's peak, and the bench holds the large
// frames.) A host that fails is reported with wait4's figure.
//
// Shapes, each the "params" of one request (a page command unless said):
//   string        ["xx..x"]: one long string ("GetVersion")
//   escapes       ["\\\\..."]: a string of escapes, half as long decoded
//   tiny-values   [0,0,0,...]: one value per two bytes
//   many-keys     [{"k0000000":0,...}]: an object of many members
//   deep-nesting  [[[...[0]...]],...]: chains 200 arrays deep
//   worker-text   [7,"nothing","xx..x"]: "InvokeAddOnInstance" of an
//                 instance that does not exist; the dispatch worker reads
//                 the text before it refuses
//   addon-invoke  [id,"nothing","xx..x"]: the same to a live instance of the
//                 SDK's example add-on, which answers an error
//   host-command  ["xx..x","blacklisted"]: the host command
//                 "RemoveFromPermList", whose answer echoes the text
//   oversize      one string frame of 257 MiB (whatever --sizes says)
// The store: a "blacklisted" list of origins filling about --store MiB,
// written into the host's data folder before it starts; measured once for
// "Create" (which reads it) and once for "Create" then "SetDomainDenied"
// (which changes it).
//
// The exit status is 0 when every measurement ran (a host that failed is
// reported in the table), 1 when the bench itself could not run. Linux only.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/child_process.h"
#include "frame/frame_codec.h"
#include "host_run.h"

namespace vorneth::bench {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMiB = size_t{1} << 20;
constexpr std::chrono::seconds kLargeTimeout{300};
constexpr size_t kOversize = 257 * kMiB;
constexpr std::chrono::milliseconds kToolTimeout{60000};
constexpr char kExampleUuid[] = "{example}";
constexpr int kMaxFramesPerAnswer = 16;
// How long an answer to the large request is waited for once the next
// request has been answered.
constexpr std::chrono::milliseconds kLateAnswer{5000};

struct Options {
  std::vector<size_t> m_sizes{16 * kMiB, 64 * kMiB, 200 * kMiB};
  size_t m_limit = 4096 * kMiB;
  std::vector<std::string> m_shapes;  // empty: all
  size_t m_store = 100 * kMiB;
  std::string m_host = VORNETH_HOST_PATH;
};

// One request of about `size` bytes: the envelope around params that
// `fill` writes; `fill` is told how many bytes the params should take.
using Fill = std::function<void(std::string& out, size_t bytes)>;

std::string Envelope(const char* type, const char* command, size_t size, const Fill& fill) {
  std::string body = std::string(R"({"type":")") + type + R"(","command":")" + command +
                     R"(","callbackId":"large","portId":"p","params":)";
  const size_t tail = 1;
  body.reserve(size + 64);
  fill(body, size > body.size() + tail ? size - body.size() - tail : 0);
  body += '}';
  return body;
}

// `count` repetitions of `piece` joined by `separator`, within `bytes`.
void Repeat(std::string& out, size_t bytes, std::string_view piece, std::string_view separator) {
  const size_t count = bytes / (piece.size() + separator.size());
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += separator;
    out += piece;
  }
}

void LongString(std::string& out, size_t bytes, std::string_view before, std::string_view after, char byte) {
  out += before;
  out += '"';
  const size_t fill = bytes > before.size() + after.size() + 2 ? bytes - before.size() - after.size() - 2 : 0;
  out.append(fill, byte);
  out += '"';
  out += after;
}

struct Shape {
  const char* m_name;
  std::string (*m_make)(size_t size, int addonId);
  bool m_needsAddon;
};

std::string StringShape(size_t size, int) {
  return Envelope("Vorneth", "GetVersion", size,
                  [](std::string& out, size_t bytes) { LongString(out, bytes, "[", "]", 'x'); });
}

std::string EscapesShape(size_t size, int) {
  return Envelope("Vorneth", "GetVersion", size, [](std::string& out, size_t bytes) {
    out += "[\"";
    Repeat(out, bytes > 4 ? bytes - 4 : 0, "\\\\", "");
    out += "\"]";
  });
}

std::string TinyValuesShape(size_t size, int) {
  return Envelope("Vorneth", "GetVersion", size, [](std::string& out, size_t bytes) {
    out += '[';
    Repeat(out, bytes, "0", ",");
    out += ']';
  });
}

std::string ManyKeysShape(size_t size, int) {
  return Envelope("Vorneth", "GetVersion", size, [](std::string& out, size_t bytes) {
    out += "[{";
    char member[32];
    for (size_t i = 0, used = 0; used + 16 < bytes; ++i) {
      const int length = std::snprintf(member, sizeof member, "%s\"k%07zu\":0", i > 0 ? "," : "", i);
      out.append(member, static_cast<size_t>(length));
      used += static_cast<size_t>(length);
    }
    out += "}]";
  });
}

std::string DeepNestingShape(size_t size, int) {
  constexpr size_t kDepth = 200;
  const std::string chain = std::string(kDepth, '[') + "0" + std::string(kDepth, ']');
  return Envelope("Vorneth", "GetVersion", size, [&](std::string& out, size_t bytes) {
    out += '[';
    Repeat(out, bytes, chain, ",");
    out += ']';
  });
}

std::string WorkerTextShape(size_t size, int) {
  return Envelope("Vorneth", "InvokeAddOnInstance", size,
                  [](std::string& out, size_t bytes) { LongString(out, bytes, R"([7,"nothing",)", "]", 'x'); });
}

std::string AddonInvokeShape(size_t size, int addonId) {
  // Appended piece by piece: g++ 12 at -O3 takes "[" + std::to_string(..)
  // for an overlapping copy (-Wrestrict, a known false warning).
  std::string before = "[";
  before += std::to_string(addonId);
  before += R"(,"nothing",)";
  return Envelope("Vorneth", "InvokeAddOnInstance", size,
                  [&](std::string& out, size_t bytes) { LongString(out, bytes, before, "]", 'x'); });
}

std::string HostCommandShape(size_t size, int) {
  return Envelope("Vorneth-I", "RemoveFromPermList", size,
                  [](std::string& out, size_t bytes) { LongString(out, bytes, "[", R"(,"blacklisted"])", 'x'); });
}

const Shape kShapes[] = {
    {"string", &StringShape, false},
    {"escapes", &EscapesShape, false},
    {"tiny-values", &TinyValuesShape, false},
    {"many-keys", &ManyKeysShape, false},
    {"deep-nesting", &DeepNestingShape, false},
    {"worker-text", &WorkerTextShape, false},
    {"addon-invoke", &AddonInvokeShape, true},
    {"host-command", &HostCommandShape, false},
    {"oversize", &StringShape, false},
};

// VmHWM of a live process, in KiB; 0 when /proc cannot tell.
long PeakSoFarKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

// A host with a page session, driven one request at a time.
class Host {
 public:
  explicit Host(const Options& options) : m_options(options) {}

  HostRun& run() { return m_run; }

  bool Start() {
    m_run.set_timeout(kLargeTimeout);
    return m_run.Start({"prlimit", "--as=" + std::to_string(m_options.m_limit), m_options.m_host,
                        "extension://vorneth-bench/"}) &&
           m_run.Send(EncodeFrame(R"({"type":"Vorneth-I","command":"Create","url":"https://bench.example",)"
                                  R"("version":"1.0","portId":"p"})"));
  }

  // Sends `body` as one frame, the length first, so that a large body is
  // not copied.
  bool SendFrame(const std::string& body) {
    return m_run.Send(EncodeFrameLength(static_cast<uint32_t>(body.size()))) && m_run.Send(body);
  }

  // Sends a request and reads frames up to the answer naming `callbackId`,
  // noting others (answers to earlier requests, style and script).
  bool Ask(const std::string& body, const std::string& callbackId, std::string* answer = nullptr) {
    if (!SendFrame(body)) return false;
    std::string frame;
    for (int frames = 0; frames < kMaxFramesPerAnswer; ++frames) {
      if (!m_run.Receive(frame)) return false;
      if (!Names(frame, callbackId)) {
        m_passed.push_back(frame);
        continue;
      }
      if (answer != nullptr) *answer = frame;
      return true;
    }
    return m_run.Fail("no answer naming callbackId " + callbackId);
  }

  // Whether the answer naming `callbackId` has come (waiting `wait` for it
  // when it has not come yet).
  bool Answered(const std::string& callbackId, std::chrono::milliseconds wait) {
    for (const std::string& frame : m_passed) {
      if (Names(frame, callbackId)) return true;
    }
    std::string frame;
    while (m_run.TryReceive(frame, wait)) {
      if (Names(frame, callbackId)) return true;
    }
    return false;
  }

  bool AskVersion(const std::string& callbackId) {
    return Ask(
        R"({"type":"Vorneth","command":"GetVersion","params":[],"callbackId":")" + callbackId + R"(","portId":"p"})",
        callbackId);
  }

 private:
  static bool Names(const std::string& frame, const std::string& callbackId) {
    return frame.find("\"callbackId\":\"" + callbackId + "\"") != std::string::npos;
  }

  const Options& m_options;
  HostRun m_run;
  std::vector<std::string> m_passed;
};

// Packs the SDK's example add-on into `folder`/example.pkg.
bool PackExample(const std::string& folder, std::string& error) {
  std::error_code failed;
  fs::create_directories(folder + "/example", failed);
  fs::copy_file(fs::path(VORNETH_EXAMPLE_ADDON_DIR) / "addon.so", folder + "/example/addon.so", failed);
  if (failed) {
    error = "cannot copy the example add-on: " + failed.message();
    return false;
  }
  ChildProcess pack;
  ChildProcessOptions options;
  options.command = {VORNETH_PACK_PATH, "pack",      "--key", VORNETH_BENCH_PRIVATE_KEY, "--uuid",
                     kExampleUuid,      "--version", "1.0",   folder + "/example",       folder + "/example.pkg"};
  if (!pack.Start(options)) {
    error = pack.error();
    return false;
  }
  pack.CloseInput();
  std::string out;
  for (int reads = 0; reads < 1000 && pack.Read(out, kToolTimeout) == ReadStatus::kData; ++reads) out.clear();
  if (pack.Wait(kToolTimeout) != 0) {
    error = "vorneth-pack failed";
    return false;
  }
  return true;
}

// Installs the example add-on and creates an instance: its add-on id, or -1.
int ExampleInstance(Host& host) {
  std::string error;
  if (!host.run().Prepare() || !PackExample(host.run().folder(), error)) {
    host.run().Fail(error);
    return -1;
  }
  const std::string install = R"({"type":"Vorneth","command":"InstallAddOns","params":["file://)" +
                              host.run().folder() + R"(/",[{"packageURL":"example.pkg","packageUUID":")" +
                              kExampleUuid + R"(","packageVersion":"1.0"}]],"callbackId":"install","portId":"p"})";
  std::string answer;
  if (!host.Ask(install, "install", &answer)) return -1;
  if (answer.find("\"response\":[200]") == std::string::npos) {
    host.run().Fail("installation failed: " + answer);
    return -1;
  }
  const std::string create = std::string(R"({"type":"Vorneth","command":"CreateAddOnInstance","params":[")") +
                             kExampleUuid + R"(","1.0"],"callbackId":"create","portId":"p"})";
  if (!host.Ask(create, "create", &answer)) return -1;
  const size_t at = answer.find("\"response\":[");
  if (at == std::string::npos || answer[at + 12] < '0' || answer[at + 12] > '9') {
    host.run().Fail("creation failed: " + answer);
    return -1;
  }
  return std::atoi(answer.c_str() + at + 12);
}

struct Row {
  std::string m_what;
  size_t m_input = 0;     // bytes of the frame or the store
  long m_beforeKiB = 0;   // peak before the large input
  long m_peakKiB = 0;     // peak of the whole run
  std::string m_outcome;  // what became of the requests, or the failure
};

void PrintHeader() {
  std::printf("%-24s %10s %12s %12s %12s  %s\n", "input", "MiB", "before MiB", "peak MiB", "peak/input", "outcome");
}

void Print(const Row& row) {
  const double mib = static_cast<double>(row.m_input) / static_cast<double>(kMiB);
  const double peak = static_cast<double>(row.m_peakKiB) / 1024.0;
  char before[32] = "-";
  if (row.m_beforeKiB > 0) std::snprintf(before, sizeof before, "%.1f", static_cast<double>(row.m_beforeKiB) / 1024.0);
  std::printf("%-24s %10.1f %12s %12.1f %12.2f  %s\n", row.m_what.c_str(), mib, before, peak, peak / mib,
              row.m_outcome.empty() ? "answered" : row.m_outcome.c_str());
  std::fflush(stdout);
}

Row Failed(Row row, HostRun& run) {
  row.m_outcome = "FAILED: " + run.error();
  const size_t line = row.m_outcome.find('\n');
  if (line != std::string::npos) row.m_outcome.resize(line);
  row.m_peakKiB = run.usage().ru_maxrss;
  return row;
}

Row MeasureFrame(const Options& options, const Shape& shape, size_t size) {
  Row row;
  row.m_what = shape.m_name;
  Host host(options);
  if (!host.Start()) return Failed(row, host.run());
  int addonId = 0;
  if (shape.m_needsAddon && (addonId = ExampleInstance(host)) < 0) return Failed(row, host.run());
  if (!host.AskVersion("before")) return Failed(row, host.run());
  row.m_beforeKiB = PeakSoFarKiB(host.run().pid());
  {
    const std::string body = shape.m_make(size, addonId);
    row.m_input = body.size();
    if (!host.SendFrame(body)) return Failed(row, host.run());
  }
  if (!host.AskVersion("after")) return Failed(row, host.run());
  row.m_outcome = host.Answered("large", kLateAnswer) ? "answered; next answered" : "ignored; next answered";
  row.m_peakKiB = PeakSoFarKiB(host.run().pid());
  std::vector<std::string> unasked;
  if (!host.run().Finish(&unasked)) return Failed(row, host.run());
  return row;
}

// Writes a store whose "blacklisted" list fills about `size` bytes; its
// size, or 0 when it cannot be written.
size_t WriteLargeStore(const std::string& dataHome, size_t size) {
  std::error_code failed;
  fs::create_directories(dataHome + "/Vorneth", failed);
  std::string text = R"({"blacklisted":[)";
  text.reserve(size + 64);
  char origin[48];
  for (size_t i = 0; text.size() + 64 < size; ++i) {
    const int length = std::snprintf(origin, sizeof origin, "%s\"https://site%08zu.example\"", i > 0 ? "," : "", i);
    text.append(origin, static_cast<size_t>(length));
  }
  text += R"(],"permission-mode":"blacklist"})";
  std::ofstream file(dataHome + "/Vorneth/vorneth.db", std::ios::binary);
  file << text;
  return file.good() ? text.size() : 0;
}

Row MeasureStore(const Options& options, const char* what, const char* command) {
  Row row;
  row.m_what = what;
  Host host(options);
  if (!host.run().Prepare()) return Failed(row, host.run());
  row.m_input = WriteLargeStore(host.run().folder() + "/data", options.m_store);
  if (row.m_input == 0) {
    row.m_outcome = "FAILED: cannot write the store";
    return row;
  }
  if (!host.Start() || !host.AskVersion("before")) return Failed(row, host.run());
  if (command != nullptr && !host.Ask(std::string(R"({"type":"Vorneth-I","command":")") + command +
                                          R"(","params":[],"callbackId":"change","portId":"p"})",
                                      "change")) {
    return Failed(row, host.run());
  }
  if (!host.AskVersion("after")) return Failed(row, host.run());
  row.m_peakKiB = PeakSoFarKiB(host.run().pid());
  if (!host.run().Finish()) return Failed(row, host.run());
  std::error_code failed;
  const auto after = fs::file_size(host.run().folder() + "/data/Vorneth/vorneth.db", failed);
  if (failed || after < row.m_input) row.m_outcome = "FAILED: the store lost content";
  return row;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  std::stringstream stream(list);
  for (std::string item; std::getline(stream, item, ',');) items.push_back(item);
  return items;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--sizes") {
      options.m_sizes.clear();
      for (const std::string& size : Split(value)) options.m_sizes.push_back(std::stoul(size) * kMiB);
    } else if (name == "--limit") {
      options.m_limit = std::stoul(value) * kMiB;
    } else if (name == "--shapes") {
      options.m_shapes = Split(value);
    } else if (name == "--host") {
      options.m_host = value;
    } else if (name == "--store") {
      options.m_store = std::stoul(value) * kMiB;
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

bool Wanted(const Options& options, std::string_view name) {
  if (options.m_shapes.empty()) return true;
  for (const std::string& shape : options.m_shapes) {
    if (shape == name) return true;
  }
  return false;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--sizes MiB,..] [--limit MiB] [--shapes name,..] [--store MiB] [--host PATH]\n",
                 argv[0]);
    return 1;
  }
  std::printf(
      "host memory: peak resident set (VmHWM) of a host sent one large input;\n"
      "address space limited to %zu MiB\n\n",
      options.m_limit / kMiB);
  PrintHeader();
  for (const Shape& shape : kShapes) {
    if (!Wanted(options, shape.m_name)) continue;
    const bool oversize = std::string_view(shape.m_name) == "oversize";
    for (const size_t size : oversize ? std::vector<size_t>{kOversize} : options.m_sizes) {
      Print(MeasureFrame(options, shape, size));
    }
  }
  if (Wanted(options, "store")) {
    Print(MeasureStore(options, "store: read (Create)", nullptr));
    Print(MeasureStore(options, "store: SetDomainDenied", "SetDomainDenied"));
  }
  return 0;
}

}  // namespace
}  // namespace vorneth::bench

int main(int argc, char** argv) {
  return vorneth::bench::Main(argc, argv);
}
