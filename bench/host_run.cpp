#include "host_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace vorneth::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The driver is single-threaded: strerror's shared buffer is safe here.
std::string ErrnoText(int error) {
  return std::strerror(error);  // NOLINT(concurrency-mt-unsafe)
}

// The caller's environment with XDG_DATA_HOME replaced.
std::vector<std::string> ChildEnvironment(const std::string& data_home) {
  static constexpr std::string_view kName = "XDG_DATA_HOME=";
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(kName)) variables.emplace_back(*entry);
  }
  variables.push_back(std::string(kName) + data_home);
  return variables;
}

// The argv/envp form of `words`, valid while `words` lives.
std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  pointers.reserve(words.size() + 1);
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&m_attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&m_attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &m_attributes; }

 private:
  posix_spawnattr_t m_attributes;
};

// A pipe whose ends are closed on exec; false when it cannot be made.
bool MakePipe(FileDescriptor& read_end, FileDescriptor& write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end = FileDescriptor(ends[0]);
  write_end = FileDescriptor(ends[1]);
  return true;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string Seconds(std::chrono::seconds timeout) {
  return std::to_string(timeout.count()) + " s";
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

void FileDescriptor::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

HostRun::~HostRun() {
  Kill();
  if (!m_folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
}

bool HostRun::Start(const std::vector<std::string>& command) {
  if (m_pid > 0 || m_input.get() >= 0) return Fail("this run has already started");
  if (command.empty()) return Fail("no program to start");
  return Prepare() && Spawn(command);
}

bool HostRun::Prepare() {
  if (!m_folder.empty()) return true;
  std::error_code error;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) return Fail("no temporary folder: " + error.message());
  std::string pattern = (temp / "vorneth-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return Fail("cannot create a folder in " + temp.string());
  m_folder = pattern;
  if (!std::filesystem::create_directory(m_folder + "/data", error)) return Fail("cannot create the data folder");
  return true;
}

bool HostRun::Spawn(const std::vector<std::string>& command) {
  FileDescriptor child_input, child_output;
  if (!MakePipe(child_input, m_input) || !MakePipe(m_output, child_output)) {
    return Fail("cannot make a pipe: " + ErrnoText(errno));
  }
  SpawnActions actions;
  posix_spawn_file_actions_adddup2(actions.get(), child_input.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), child_output.get(), STDOUT_FILENO);
  const std::string error_file = stderr_path();
  posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  SpawnAttributes attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> arguments = command;
  std::vector<std::string> variables = ChildEnvironment(m_folder + "/data");
  const std::vector<char*> argv = Pointers(arguments);
  const std::vector<char*> envp = Pointers(variables);
  m_startedAt = Clock::now();
  const int started = posix_spawnp(&m_pid, argv[0], actions.get(), attributes.get(), argv.data(), envp.data());
  if (started != 0) {
    m_pid = -1;
    return Fail("cannot start " + command[0] + ": " + ErrnoText(started));
  }
  if (!SetNonBlocking(m_input.get()) || !SetNonBlocking(m_output.get())) {
    return Fail("cannot make the pipes non-blocking: " + ErrnoText(errno));
  }
  return true;
}

bool HostRun::Await(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry = {fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool HostRun::Send(std::string_view bytes) {
  const auto deadline = Clock::now() + m_timeout;
  while (!bytes.empty()) {
    const ssize_t wrote = write(m_input.get(), bytes.data(), bytes.size());
    if (wrote > 0) {
      bytes.remove_prefix(static_cast<size_t>(wrote));
    } else if (wrote < 0 && errno == EAGAIN) {
      if (!Await(m_input.get(), POLLOUT, deadline)) return Fail("the host took no input for " + Seconds(m_timeout));
    } else if (wrote < 0 && errno != EINTR) {
      return Fail("cannot write to the host: " + ErrnoText(errno));
    }
  }
  return true;
}

long HostRun::ReadSome(Clock::time_point deadline) {
  for (;;) {
    const ssize_t got = read(m_output.get(), m_readBuffer.data(), m_readBuffer.size());
    if (got > 0) {
      m_decoder.Append(std::string_view(m_readBuffer.data(), static_cast<size_t>(got)));
      return got;
    }
    if (got == 0) return 0;
    if (errno == EAGAIN) {
      if (!Await(m_output.get(), POLLIN, deadline)) {
        Fail("no answer from the host within " + Seconds(m_timeout));
        return -1;
      }
    } else if (errno != EINTR) {
      Fail("cannot read from the host: " + ErrnoText(errno));
      return -1;
    }
  }
}

bool HostRun::Receive(std::string& body) {
  const auto deadline = Clock::now() + m_timeout;
  for (;;) {
    if (std::optional<std::string> next = m_decoder.Next()) {
      body = std::move(*next);
      return true;
    }
    if (m_decoder.failed()) return Fail("the host announced an impossible frame length");
    const long got = ReadSome(deadline);
    if (got == 0) return Fail("the host ended its output where an answer was due");
    if (got < 0) return false;
  }
}

bool HostRun::TryReceive(std::string& body, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    if (std::optional<std::string> next = m_decoder.Next()) {
      body = std::move(*next);
      return true;
    }
    if (m_decoder.failed() || !Await(m_output.get(), POLLIN, deadline)) return false;
    const ssize_t got = read(m_output.get(), m_readBuffer.data(), m_readBuffer.size());
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (got > 0) m_decoder.Append(std::string_view(m_readBuffer.data(), static_cast<size_t>(got)));
  }
}

bool HostRun::Finish(std::vector<std::string>* unasked) {
  m_input.Close();
  const auto deadline = Clock::now() + m_timeout;
  for (long got = 1; got != 0;) {
    got = ReadSome(deadline);
    if (got < 0) return false;
  }
  while (std::optional<std::string> extra = m_decoder.Next()) {
    if (unasked == nullptr) return Fail("the host wrote an answer nobody asked for: " + *extra);
    unasked->push_back(std::move(*extra));
  }
  if (m_decoder.buffered() != 0) return Fail("the host's output ends inside a frame");
  int status = 0;
  if (!Reap(deadline, status))
    return Fail("the host did not end within " + Seconds(m_timeout) + " after its input was closed");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Fail("the host ended with " + ExitText(status));
  return true;
}

bool HostRun::Reap(Clock::time_point deadline, int& status) {
  for (;;) {
    const pid_t done = wait4(m_pid, &status, WNOHANG, &m_usage);
    if (done == m_pid) {
      m_pid = -1;
      return true;
    }
    if (done < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void HostRun::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  while (wait4(m_pid, nullptr, 0, &m_usage) < 0 && errno == EINTR) {
  }
  m_pid = -1;
}

std::optional<double> HostRun::CpuMilliseconds() const {
  std::ifstream file("/proc/" + std::to_string(m_pid) + "/stat");
  std::string line;
  if (m_pid <= 0 || !std::getline(file, line)) return std::nullopt;
  // The name in parentheses may hold spaces; the fields after it are plain:
  // state is field 3, utime 14 and stime 15.
  const size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(name_end + 1));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  unsigned long long user = 0, system = 0;
  if (!(fields >> user >> system)) return std::nullopt;
  const long ticks_per_second = sysconf(_SC_CLK_TCK);
  if (ticks_per_second <= 0) return std::nullopt;
  return static_cast<double>(user + system) * 1000.0 / static_cast<double>(ticks_per_second);
}

std::optional<long> HostRun::LiveContextSwitches() const {
  if (m_pid <= 0) return std::nullopt;
  std::error_code error;
  std::filesystem::directory_iterator tasks("/proc/" + std::to_string(m_pid) + "/task", error);
  if (error) return std::nullopt;
  long switches = 0;
  for (const std::filesystem::directory_entry& task : tasks) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:")) {
        switches += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
      }
    }
  }
  return switches;
}

std::optional<long> HostRun::MappedSharedObjects() const {
  std::ifstream maps("/proc/" + std::to_string(m_pid) + "/maps");
  if (m_pid <= 0 || !maps) return std::nullopt;
  std::set<std::string> objects;
  for (std::string line; std::getline(maps, line);) {
    // The path is the sixth field and the only one that starts with '/'.
    const size_t path = line.find('/');
    if (path != std::string::npos && line.find(".so", path) != std::string::npos) objects.insert(line.substr(path));
  }
  return static_cast<long>(objects.size());
}

std::optional<long> HostRun::PrivateDirtyKiB() const {
  std::ifstream rollup("/proc/" + std::to_string(m_pid) + "/smaps_rollup");
  if (m_pid <= 0) return std::nullopt;
  for (std::string line; std::getline(rollup, line);) {
    if (line.starts_with("Private_Dirty:")) return std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
  }
  return std::nullopt;
}

bool HostRun::Fail(const std::string& what) {
  Kill();
  m_error = what;
  const std::string tail = StderrTail();
  if (!tail.empty()) m_error += "\n      its standard error ends with: " + tail;
  return false;
}

std::string HostRun::StderrTail() const {
  if (m_folder.empty()) return "";
  std::ifstream file(stderr_path(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  constexpr size_t kTail = 400;
  return text.size() > kTail ? "..." + text.substr(text.size() - kTail) : text;
}

CpuPin::CpuPin() {
  if (sched_getaffinity(0, sizeof m_before, &m_before) != 0) return;
  for (int cpu = 0; cpu < CPU_SETSIZE && m_cpu < 0; ++cpu) {
    if (CPU_ISSET(cpu, &m_before)) m_cpu = cpu;
  }
  if (m_cpu < 0) return;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(m_cpu, &one);
  m_pinned = sched_setaffinity(0, sizeof one, &one) == 0;
}

CpuPin::~CpuPin() {
  if (m_pinned) sched_setaffinity(0, sizeof m_before, &m_before);
}

}  // namespace vorneth::bench
