// Installing an add-on package of 20 MB in 1,000 files from a "file" URL
// through a running vorneth-host, and checking the installed files against
// their signed checksum list as instance creation does.
//
//   InstallFromFileUrl: one "InstallAddOns" page command, from the request
//     to its answer (the version is uninstalled again outside the timing).
//   CheckAddOnSignature: the check on the installed folder, in this process.
//
// The package is made once per run by vorneth-pack with the development key;
// its files are random bytes, so the archives do not shrink them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "addons/package_verifier.h"
#include "common/child_process.h"
#include "frame/frame_codec.h"

namespace vorneth {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
constexpr milliseconds kTimeout{120000};

constexpr int kFiles = 1000;
constexpr size_t kFileBytes = 20 * 1000;
constexpr char kUuid[] = "{bench}";

// A temporary folder with the package in it; removed at exit.
class Workspace {
 public:
  Workspace() {
    std::string folder = (fs::temp_directory_path() / "vorneth-install-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
      m_error = "cannot create a temporary folder";
      return;
    }
    m_folder = folder;
    const std::string source = m_folder + "/addon";
    std::mt19937 random(7);
    for (int i = 0; i < kFiles; ++i) {
      const fs::path file = fs::path(source) / ("part" + std::to_string(i % 10)) / ("file" + std::to_string(i));
      fs::create_directories(file.parent_path());
      std::string bytes(kFileBytes, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      std::ofstream(file, std::ios::binary) << bytes;
    }
    std::ofstream(source + "/addon.so", std::ios::binary) << "library";
    ChildProcess pack;
    ChildProcessOptions options;
    options.command = {VORNETH_PACK_PATH, "pack", "--key", VORNETH_BENCH_PRIVATE_KEY, "--uuid", kUuid,
                       "--version",       "1.0",  source,  m_folder + "/bench.pkg"};
    if (!pack.Start(options) || pack.Wait(kTimeout) != 0) m_error = "vorneth-pack failed";
  }
  ~Workspace() {
    std::error_code ignored;
    if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
  }
  const std::string& folder() const { return m_folder; }
  const std::string& error() const { return m_error; }
  std::string package() const { return m_folder + "/bench.pkg"; }

 private:
  std::string m_folder;
  std::string m_error;
};

const Workspace& TheWorkspace() {
  static const Workspace workspace;
  return workspace;
}

// One host with a session, its data folder inside the workspace.
class BenchHost {
 public:
  explicit BenchHost(const std::string& dataHome) : m_dataHome(dataHome) {
    ChildProcessOptions options;
    options.command = {VORNETH_HOST_PATH, "extension://vorneth-bench/"};
    options.environment.emplace_back("XDG_DATA_HOME", dataHome);
    if (!m_child.Start(options) ||
        !m_child.Write(EncodeFrame(R"({"type":"Vorneth-I","command":"Create","url":"https://bench.example",)"
                                   R"("version":"1.0","portId":"p"})"))) {
      m_error = m_child.error();
    }
  }
  ~BenchHost() {
    m_child.CloseInput();
    m_child.Wait(milliseconds(5000));
    m_child.Kill();
  }
  const std::string& error() const { return m_error; }
  std::string AddOnFolder() const { return m_dataHome + "/Vorneth/addons/" + kUuid + "/1.0/"; }

  // Sends `request` and reads `frames` frames; the last one must hold `expected`.
  bool Exchange(const std::string& request, int frames, const std::string& expected) {
    if (!m_error.empty() || !m_child.Write(EncodeFrame(request))) return Fail("the host does not read");
    std::optional<std::string> last;
    while (frames > 0) {
      if (std::optional<std::string> frame = m_decoder.Next()) {
        last = std::move(frame);
        --frames;
        continue;
      }
      std::string bytes;
      if (m_child.Read(bytes, kTimeout) != ReadStatus::kData) return Fail("no answer from the host");
      m_decoder.Append(bytes);
    }
    return last->find(expected) != std::string::npos || Fail("unexpected answer: " + *last);
  }
  bool Install(const std::string& packageUrl) {
    return Exchange(R"({"type":"Vorneth","command":"InstallAddOns","callbackId":"i","portId":"p","params":[")" +
                        packageUrl + R"(",[{"packageUUID":")" + kUuid + R"(","packageVersion":"1.0"}]]})",
                    2, R"("response":[200])");
  }
  bool Uninstall() {
    return Exchange(R"({"type":"Vorneth-I","command":"UninstallAddOn","callbackId":"u","portId":"p","params":[")" +
                        std::string(kUuid) + R"(","1.0"]})",
                    1, R"("response":200)");
  }

 private:
  bool Fail(const std::string& why) {
    m_error = why;
    return false;
  }

  std::string m_dataHome;
  ChildProcess m_child;
  FrameDecoder m_decoder;
  std::string m_error;
};

void InstallFromFileUrl(benchmark::State& state) {
  const Workspace& workspace = TheWorkspace();
  BenchHost host(workspace.folder());
  for (auto _ : state) {
    if (!workspace.error().empty() || !host.Install("file://" + workspace.package())) {
      state.SkipWithError((workspace.error() + host.error()).c_str());
      break;
    }
    state.PauseTiming();
    const bool removed = host.Uninstall();
    state.ResumeTiming();
    if (!removed) {
      state.SkipWithError(host.error().c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(workspace.package())));
}
BENCHMARK(InstallFromFileUrl)->Unit(benchmark::kMillisecond)->UseRealTime();

void CheckInstalledFiles(benchmark::State& state) {
  const Workspace& workspace = TheWorkspace();
  BenchHost host(workspace.folder());
  if (!workspace.error().empty() || !host.Install("file://" + workspace.package())) {
    state.SkipWithError((workspace.error() + host.error()).c_str());
    return;
  }
  for (auto _ : state) {
    if (!CheckAddOnSignature(host.AddOnFolder())) {
      state.SkipWithError("the installed files fail their check");
      break;
    }
  }
  (void)host.Uninstall();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFiles * static_cast<int64_t>(kFileBytes));
}
BENCHMARK(CheckInstalledFiles)->Name("CheckAddOnSignature")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorneth
