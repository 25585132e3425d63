// addon_bench: the add-on runtime's speed through the built host, each
// figure beside a yardstick measured in the same run, printed with the
// ratio and its target.
//
//   addon_bench [--quick]
//
//   invocation, one at a time: "InvokeAddOnInstance" of the example add-on's
//     "add" on one instance, each request written after the answer to the
//     one before, per second; beside "GetVersion" page requests done the
//     same way (ratio invoke/GetVersion, target >= 0.8).
//   invocation, pipelined: batches of 64 requests written at once, spread
//     round robin over 4 instances; beside batches of 64 "GetVersion"
//     (target >= 0.8).
//   instance creation, 1,000 files: "CreateAddOnInstance" (answered after
//     the style and script messages) and then "DisposeAddOnInstance" of an
//     add-on of the example's library and 999 data files of 4 KiB, whose
//     installed files are checked against their signed list at each
//     creation; beside `sha1sum` over the same installed files, started as
//     a process (target <= 1.5).
//
// One host serves the whole run: both packages are made by vorneth-pack
// with the development key and installed from "file" URLs once. Every
// answer is checked (its callbackId, and its response's start). Rounds
// alternate the add-on figure and its yardstick, the first switching each
// round; a figure is the median of its samples.
//
// The exit status is 0 when every figure was measured (targets are
// reported, not enforced), 1 when the host or a tool failed. Linux only.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/child_process.h"
#include "frame/frame_codec.h"
#include "host_run.h"

namespace vorneth::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kToolTimeout{120000};
constexpr char kExampleUuid[] = "{example}";
constexpr char kLargeUuid[] = "{example-1000}";
constexpr int kDataFiles = 999;
constexpr size_t kDataFileBytes = 4096;
constexpr int kInstances = 4;
constexpr long kBatch = 64;

struct Sizes {
  int m_rounds;
  long m_oneAtATime;  // round trips per sample
  long m_batches;     // batches per sample
  int m_cycles;       // creations per sample, and sha1sum runs
};
constexpr Sizes kFull = {7, 5000, 200, 10};
constexpr Sizes kQuick = {2, 500, 20, 3};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// Runs a tool to its end, its output read and dropped; the count of its
// output lines, or nullopt (with `error` set) when it failed.
std::optional<long> RunTool(const std::vector<std::string>& command, std::string& error) {
  ChildProcess child;
  ChildProcessOptions options;
  options.command = command;
  if (!child.Start(options)) {
    error = child.error();
    return std::nullopt;
  }
  child.CloseInput();
  long lines = 0;
  std::string out;
  for (int reads = 0; reads < 100000 && child.Read(out, kToolTimeout) == ReadStatus::kData; ++reads) {
    lines += std::count(out.begin(), out.end(), '\n');
    out.clear();
  }
  if (child.Wait(kToolTimeout) != 0) {
    error = command[0] + " failed";
    return std::nullopt;
  }
  return lines;
}

// The host with one page session, and the requests of the figures.
class Session {
 public:
  HostRun& run() { return m_run; }

  bool Open() {
    return m_run.Start({VORNETH_HOST_PATH, "extension://vorneth-bench/"}) &&
           m_run.Send(EncodeFrame(R"({"type":"Vorneth-I","command":"Create","url":"https://bench.example",)"
                                  R"("version":"1.0","portId":"p"})"));
  }

  // Sends one page command and reads frames up to its answer, which must
  // start its response with `expected`; the answer's body in `answer`.
  bool Ask(const std::string& command, const std::string& params, std::string_view expected, std::string& answer) {
    const long id = m_nextId++;
    return m_run.Send(EncodeFrame(Request(command, params, id))) && ReadAnswer(id, 1, expected, &answer);
  }

  // `batches` batches of `per_batch` requests made by `make`, each batch
  // written at once and all its answers read before the next.
  template <typename Make>
  bool Batches(long batches, long per_batch, std::string_view expected, Make make) {
    for (long b = 0; b < batches; ++b) {
      const long first = m_nextId;
      std::string frames;
      for (long i = 0; i < per_batch; ++i) frames += EncodeFrame(make(m_nextId++, i));
      if (!m_run.Send(frames) || !ReadAnswer(first, per_batch, expected, nullptr)) return false;
    }
    return true;
  }

  static std::string Request(const std::string& command, const std::string& params, long id) {
    return R"({"type":"Vorneth","command":")" + command + R"(","params":)" + params + R"(,"callbackId":")" +
           std::to_string(id) + R"(","portId":"p"})";
  }

 private:
  // Reads the answers naming callbackIds first to first + count - 1, each
  // once, in any order; other frames (style, script, events) are passed by.
  bool ReadAnswer(long first, long count, std::string_view expected, std::string* last) {
    static constexpr std::string_view kId = "\"callbackId\":\"";
    const std::string response = "\"response\":" + std::string(expected);
    std::vector<bool> answered(static_cast<size_t>(count), false);
    std::string body;
    for (long left = count, frames = 0; left > 0; ++frames) {
      if (frames > 4 * count + 16) return m_run.Fail("too many frames without an answer");
      if (!m_run.Receive(body)) return false;
      const size_t at = body.find(kId);
      if (at == std::string::npos) continue;
      const long index = std::strtol(body.c_str() + at + kId.size(), nullptr, 10) - first;
      if (index < 0 || index >= count || answered[static_cast<size_t>(index)] ||
          body.find(response) == std::string::npos) {
        return m_run.Fail("unexpected answer: " + body);
      }
      answered[static_cast<size_t>(index)] = true;
      --left;
    }
    if (last != nullptr) *last = body;
    return true;
  }

  HostRun m_run;
  long m_nextId = 1;
};

// The two packages, made in the run's scratch folder.
bool MakePackages(const std::string& folder, std::string& error) {
  const fs::path library = fs::path(VORNETH_EXAMPLE_ADDON_DIR) / "addon.so";
  std::error_code failed;
  fs::create_directories(folder + "/example", failed);
  fs::create_directories(folder + "/large/data", failed);
  fs::copy_file(library, folder + "/example/addon.so", failed);
  fs::copy_file(library, folder + "/large/addon.so", failed);
  if (failed) {
    error = "cannot copy " + library.string() + ": " + failed.message();
    return false;
  }
  std::mt19937 random(7);
  for (int i = 0; i < kDataFiles; ++i) {
    std::string bytes(kDataFileBytes, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(folder + "/large/data/file" + std::to_string(i), std::ios::binary) << bytes;
  }
  for (const auto& [name, uuid] : {std::pair{"example", kExampleUuid}, std::pair{"large", kLargeUuid}}) {
    if (!RunTool({VORNETH_PACK_PATH, "pack", "--key", VORNETH_BENCH_PRIVATE_KEY, "--uuid", uuid, "--version", "1.0",
                  folder + "/" + name, folder + "/" + name + ".pkg"},
                 error)) {
      return false;
    }
  }
  return true;
}

bool Install(Session& session, const std::string& folder) {
  const std::string list = R"(["file://)" + folder + R"(/", [)" + R"({"packageURL":"example.pkg","packageUUID":")" +
                           kExampleUuid + R"(","packageVersion":"1.0"},)" +
                           R"({"packageURL":"large.pkg","packageUUID":")" + kLargeUuid +
                           R"(","packageVersion":"1.0"}]])";
  std::string answer;
  return session.Ask("InstallAddOns", list, "[200]", answer);
}

// The add-on id of a new instance of `uuid`; -1 on a failure.
int Create(Session& session, const std::string& uuid) {
  std::string answer;
  if (!session.Ask("CreateAddOnInstance", "[\"" + uuid + "\",\"1.0\"]", "[", answer)) return -1;
  static constexpr std::string_view kResponse = "\"response\":[";
  const char* digits = answer.c_str() + answer.find(kResponse) + kResponse.size();
  if (*digits < '0' || *digits > '9') {
    session.run().Fail("creation failed: " + answer);
    return -1;
  }
  return static_cast<int>(std::strtol(digits, nullptr, 10));
}

std::string AddParams(int id, long n) {
  // Appended piece by piece: g++ 12 at -O3 warns wrongly (-Wrestrict) on
  // "[" + std::to_string(...).
  std::string params = "[";
  params += std::to_string(id);
  params += R"(,"add","{\"a\":)";
  params += std::to_string(n);
  params += R"(,\"b\":1}"])";
  return params;
}

// One sample of each figure: a rate (requests per second) or a time (ms).
using Measure = std::optional<double> (*)(Session&, const std::vector<int>&, const Sizes&);

std::optional<double> Rate(Session& session, long batches, long per_batch, std::string_view expected,
                           std::string (*make)(long id, long i, const std::vector<int>& ids),
                           const std::vector<int>& ids) {
  const auto started = Clock::now();
  if (!session.Batches(batches, per_batch, expected, [&](long id, long i) { return make(id, i, ids); })) {
    return std::nullopt;
  }
  return static_cast<double>(batches * per_batch) / Seconds(Clock::now() - started);
}

std::string InvokeRequest(long id, long i, const std::vector<int>& ids) {
  return Session::Request("InvokeAddOnInstance", AddParams(ids[static_cast<size_t>(i) % ids.size()], id), id);
}
std::string GetVersionRequest(long id, long, const std::vector<int>&) {
  return Session::Request("GetVersion", "[]", id);
}

std::optional<double> InvokeOne(Session& s, const std::vector<int>& ids, const Sizes& z) {
  return Rate(s, z.m_oneAtATime, 1, R"({"sum":)", &InvokeRequest, {ids[0]});
}
std::optional<double> GetVersionOne(Session& s, const std::vector<int>& ids, const Sizes& z) {
  return Rate(s, z.m_oneAtATime, 1, R"(["0x)", &GetVersionRequest, ids);
}
std::optional<double> InvokePipelined(Session& s, const std::vector<int>& ids, const Sizes& z) {
  return Rate(s, z.m_batches, kBatch, R"({"sum":)", &InvokeRequest, ids);
}
std::optional<double> GetVersionPipelined(Session& s, const std::vector<int>& ids, const Sizes& z) {
  return Rate(s, z.m_batches, kBatch, R"(["0x)", &GetVersionRequest, ids);
}

// Milliseconds per creation and disposal of the large add-on.
std::optional<double> CreationCycle(Session& s, const std::vector<int>&, const Sizes& z) {
  const auto started = Clock::now();
  std::string answer;
  for (int i = 0; i < z.m_cycles; ++i) {
    const int id = Create(s, kLargeUuid);
    std::string params = "[";
    params += std::to_string(id);
    params += R"(,"","1.0"])";
    if (id < 0 || !s.Ask("DisposeAddOnInstance", params, "[true]", answer)) {
      return std::nullopt;
    }
  }
  return Seconds(Clock::now() - started) * 1000 / z.m_cycles;
}

// Milliseconds per sha1sum run over the large add-on's installed files.
std::optional<double> Sha1sumRun(Session& s, const std::vector<int>&, const Sizes& z) {
  std::vector<std::string> command = {"sha1sum"};
  const std::string folder = s.run().folder() + "/data/Vorneth/addons/" + kLargeUuid;
  std::error_code failed;
  for (fs::recursive_directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
    if (it->is_regular_file() && it->path().filename() != "signature.json") command.push_back(it->path());
  }
  if (failed || command.size() != kDataFiles + 2) {
    s.run().Fail("the installed files of " + folder + " are not as packed");
    return std::nullopt;
  }
  std::string error;
  const auto started = Clock::now();
  for (int i = 0; i < z.m_cycles; ++i) {
    if (RunTool(command, error) != static_cast<long>(command.size() - 1)) {
      s.run().Fail("sha1sum over the installed files: " + error);
      return std::nullopt;
    }
  }
  return Seconds(Clock::now() - started) * 1000 / z.m_cycles;
}

struct Figure {
  const char* m_name;
  const char* m_yardstick;
  Measure m_addon;
  Measure m_baseline;
  bool m_higherIsBetter;
  double m_target;
};

constexpr Figure kFigures[] = {
    {"invocation, one at a time (req/s)", "GetVersion", &InvokeOne, &GetVersionOne, true, 0.8},
    {"invocation, pipelined, 4 instances (req/s)", "GetVersion", &InvokePipelined, &GetVersionPipelined, true, 0.8},
    {"creation + disposal, 1,000 files (ms)", "sha1sum", &CreationCycle, &Sha1sumRun, false, 1.5},
};

// The figure's medians, add-on first; nullopt when a sample failed.
std::optional<std::pair<double, double>> MeasureFigure(const Figure& figure, Session& session,
                                                       const std::vector<int>& ids, const Sizes& sizes) {
  std::vector<double> samples[2];
  for (int round = 0; round < sizes.m_rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (round + turn) % 2;
      const std::optional<double> sample = (which == 0 ? figure.m_addon : figure.m_baseline)(session, ids, sizes);
      if (!sample) return std::nullopt;
      samples[which].push_back(*sample);
    }
  }
  return std::pair{Median(samples[0]), Median(samples[1])};
}

// Makes and installs the packages, creates the instances that invocations
// go to, and loads the large add-on's library once before the timing. False
// (the reason printed) on a failure.
bool SetUp(Session& session, std::vector<int>& ids) {
  std::string error;
  if (!session.run().Prepare() || !MakePackages(session.run().folder(), error) || !session.Open() ||
      !Install(session, session.run().folder())) {
    std::fprintf(stderr, "addon_bench: %s%s\n", error.c_str(), session.run().error().c_str());
    return false;
  }
  for (int i = 0; i < kInstances && (ids.empty() || ids.back() >= 0); ++i) ids.push_back(Create(session, kExampleUuid));
  if (ids.back() < 0 || !CreationCycle(session, ids, {1, 0, 0, 1})) {
    std::fprintf(stderr, "addon_bench: %s\n", session.run().error().c_str());
    return false;
  }
  return true;
}

int Main(int argc, char** argv) {
  const bool quick = argc == 2 && std::string_view(argv[1]) == "--quick";
  if (argc > 1 && !quick) {
    std::fprintf(stderr, "usage: addon_bench [--quick]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);  // a host that ends early fails a write instead
  const Sizes sizes = quick ? kQuick : kFull;
  Session session;
  std::vector<int> ids;
  if (!SetUp(session, ids)) return 1;
  std::printf("Add-on runtime through %s, each figure beside its yardstick in the same run\n", VORNETH_HOST_PATH);
  std::printf("medians over %d alternating rounds; ratio = add-on / yardstick\n", sizes.m_rounds);
  std::printf("reproduce with: build-bench/bin/addon_bench%s  (tools/dev.sh bench runs it)\n\n",
              quick ? " --quick" : "");
  std::printf("%-44s %12s %12s %-11s %7s %8s\n", "figure", "add-on", "yardstick", "(which)", "ratio", "target");
  for (const Figure& figure : kFigures) {
    const std::optional<std::pair<double, double>> medians = MeasureFigure(figure, session, ids, sizes);
    if (!medians) {
      std::printf("%-44s FAILED: %s\n", figure.m_name, session.run().error().c_str());
      return 1;
    }
    const double ratio = medians->first / medians->second;
    const bool meets = figure.m_higherIsBetter ? ratio >= figure.m_target : ratio <= figure.m_target;
    std::printf("%-44s %12.2f %12.2f %-11s %7.2f %3s%5.2f  %s\n", figure.m_name, medians->first, medians->second,
                figure.m_yardstick, ratio, figure.m_higherIsBetter ? ">=" : "<=", figure.m_target,
                meets ? "meets" : "MISSES");
    std::fflush(stdout);
  }
  return session.run().Finish() ? 0 : 1;
}

}  // namespace
}  // namespace vorneth::bench

int main(int argc, char** argv) {
  return vorneth::bench::Main(argc, argv);
}
