// Page requests per second through a running vorneth-host, over the same
// pipes and frames the browser uses: a session is created once, then
// "GetVersion" page commands go in and their answers come out.
//
//   OneAtATime: send one request, wait for its answer, repeat.
//   Pipelined/N: send N requests in one write, then read N answers.
//
// The host is the one of this build unless VORNETH_HOST_UNDER_TEST names
// another.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/child_process.h"
#include "frame/frame_codec.h"

namespace vorneth {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kAnswerTimeout{10000};

std::string GetVersionRequest(long callback_id) {
  return "{\"type\":\"Vorneth\",\"command\":\"GetVersion\",\"params\":[],\"callbackId\":\"" +
         std::to_string(callback_id) + "\",\"portId\":\"p\"}";
}

// One host with a session, in a data folder of its own.
class BenchHost {
 public:
  BenchHost() {
    std::string folder = (std::filesystem::temp_directory_path() / "vorneth-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
      m_error = "cannot create a temporary folder";
      return;
    }
    m_folder = folder;
    const char* override_path = getenv("VORNETH_HOST_UNDER_TEST");
    const std::string host = override_path != nullptr && *override_path != '\0' ? override_path : VORNETH_HOST_PATH;
    ChildProcessOptions options;
    options.command = {host, "extension://vorneth-bench/"};
    options.environment.emplace_back("XDG_DATA_HOME", m_folder);
    if (!m_child.Start(options)) {
      m_error = m_child.error();
      return;
    }
    if (!m_child.Write(EncodeFrame("{\"type\":\"Vorneth-I\",\"command\":\"Create\",\"url\":\"https://bench.example\","
                                   "\"version\":\"1.0\",\"portId\":\"p\"}"))) {
      m_error = m_child.error();
    }
  }
  ~BenchHost() {
    m_child.CloseInput();
    m_child.Wait(milliseconds(5000));
    m_child.Kill();
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder);
  }

  const std::string& error() const { return m_error; }

  bool Send(const std::string& frames) {
    if (m_child.Write(frames)) return true;
    m_error = m_child.error();
    return false;
  }

  // Reads until `count` whole frames have arrived.
  bool Receive(long count) {
    while (count > 0) {
      while (count > 0 && m_decoder.Next()) --count;
      if (count == 0) break;
      std::string bytes;
      if (m_child.Read(bytes, kAnswerTimeout) != ReadStatus::kData) {
        m_error = "no answer from the host";
        return false;
      }
      m_decoder.Append(bytes);
    }
    return true;
  }

 private:
  std::string m_folder;
  ChildProcess m_child;
  FrameDecoder m_decoder;
  std::string m_error;
};

void OneAtATime(benchmark::State& state) {
  BenchHost host;
  long id = 0;
  for (auto _ : state) {
    if (!host.error().empty() || !host.Send(EncodeFrame(GetVersionRequest(++id))) || !host.Receive(1)) {
      state.SkipWithError(host.error().c_str());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(OneAtATime)->UseRealTime();

void Pipelined(benchmark::State& state) {
  BenchHost host;
  const long batch = state.range(0);
  long id = 0;
  for (auto _ : state) {
    std::string frames;
    for (long i = 0; i < batch; ++i) frames += EncodeFrame(GetVersionRequest(++id));
    if (!host.error().empty() || !host.Send(frames) || !host.Receive(batch)) {
      state.SkipWithError(host.error().c_str());
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * batch);
}
BENCHMARK(Pipelined)->Arg(8)->Arg(64)->UseRealTime();

}  // namespace
}  // namespace vorneth
