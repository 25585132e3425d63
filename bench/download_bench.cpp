// Downloading a 100 MB body over loopback: the host's download client
// (RequestMaker::MakeHttpRequest, in this process) beside the curl
// command-line tool fetching the same URL from the same server, in the
// same run, writing to /dev/null and to a file in memory. Compare their
// bytes_per_second; "peak_MB" is this process's resident high-water mark
// during the client's fetch (reset before each one), to set against the
// body's own 100 MiB.
//
// The server is a small thread of this program that sends the body from a
// 1 MiB pattern, so it holds almost nothing itself.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "common/child_process.h"
#include "net/request_maker.h"

namespace vorneth {
namespace {

constexpr size_t kBodyBytes = size_t{100} << 20;
constexpr size_t kPatternBytes = size_t{1} << 20;

// Answers every connection with the body; stops with the program.
class PatternServer {
 public:
  PatternServer() : m_pattern(kPatternBytes, '\0') {
    for (size_t i = 0; i < m_pattern.size(); ++i) m_pattern[i] = static_cast<char>(i * 7 + 3);
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~PatternServer() {
    m_stopping = true;
    shutdown(m_listener, SHUT_RDWR);
    close(m_listener);
    if (m_thread.joinable()) m_thread.join();
  }
  uint16_t port() const { return m_port; }

 private:
  void Serve() {
    while (!m_stopping) {
      const int connection = accept(m_listener, nullptr, nullptr);
      if (connection < 0) return;
      Answer(connection);
      close(connection);
    }
  }
  void Answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = read(connection, buffer, sizeof buffer);
      if (got <= 0) return;
      request.append(buffer, static_cast<size_t>(got));
    }
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodyBytes) +
                             "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    if (write(connection, head.data(), head.size()) != static_cast<ssize_t>(head.size())) return;
    for (size_t sent = 0; sent < kBodyBytes;) {
      const ssize_t wrote = write(connection, m_pattern.data(), std::min(m_pattern.size(), kBodyBytes - sent));
      if (wrote <= 0) return;
      sent += static_cast<size_t>(wrote);
    }
  }

  std::string m_pattern;
  int m_listener = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};

PatternServer& Server() {
  static PatternServer server;
  return server;
}

std::string Origin() {
  return "http://127.0.0.1:" + std::to_string(Server().port());
}

// VmHWM of this process in bytes after resetting it is the peak of what
// follows; 0 where /proc cannot tell.
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}
double PeakMemoryMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

void BM_HostClient(benchmark::State& state) {
  double peak = 0;
  for (auto _ : state) {
    std::string body;
    size_t length = 0;
    int32_t status = -1;
    ResetPeakMemory();
    const int32_t result = RequestMaker::MakeHttpRequest(Origin(), "/body.pkg", body, length, status);
    peak = std::max(peak, PeakMemoryMB());
    if (result != kHttpExchangeDone || status != 200 || length != kBodyBytes) {
      state.SkipWithError("download failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
  state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_HostClient)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The curl tool writing the body to `output`: /dev/null, where nothing is
// kept, or a file on the memory file system (/dev/shm), where the body takes
// fresh memory pages as the client's does.
void CurlInto(benchmark::State& state, const std::string& output) {
  for (auto _ : state) {
    ChildProcessOptions options;
    options.command = {"curl", "--silent", "--fail", "--noproxy", "*", "--output", output, Origin() + "/body.pkg"};
    ChildProcess curl;
    if (!curl.Start(options) || curl.Wait(std::chrono::milliseconds(120000)) != 0) {
      state.SkipWithError("curl failed (is the curl package installed?)");
      return;
    }
    if (output != "/dev/null") std::remove(output.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

void BM_CurlToDevNull(benchmark::State& state) {
  CurlInto(state, "/dev/null");
}
BENCHMARK(BM_CurlToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_CurlToMemoryFile(benchmark::State& state) {
  CurlInto(state, "/dev/shm/vorneth-download-bench-" + std::to_string(getpid()));
}
BENCHMARK(BM_CurlToMemoryFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace vorneth
