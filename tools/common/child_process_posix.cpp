// ChildProcess on POSIX: posix_spawn with the child in a process group of its
// own, pipes created close-on-exec, and SIGPIPE held back around writes.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/child_process.h"
#include "common/child_process_native.h"
#include "platform/spawn_posix.h"
#include "platform/status.h"

namespace vorneth {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(), never negative.
int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, 1 << 30));
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Blocks SIGPIPE in the calling thread for its lifetime. A SIGPIPE raised by
// a write in between is discarded before the old mask returns, unless one
// was already pending when the guard was made (that one is not ours).
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &m_oldMask);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    m_pendingBefore = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeGuard() {
    if (!m_pendingBefore) {
      sigset_t pending;
      sigemptyset(&pending);
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t m_oldMask;
  bool m_pendingBefore = false;
};

// The caller's environment with `changes` applied, as "NAME=value" texts.
std::vector<std::string> BuildEnvironment(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
  for (const auto& [name, value] : changes) {
    const std::string prefix = name + "=";
    std::erase_if(entries, [&](const std::string& e) { return e.compare(0, prefix.size(), prefix) == 0; });
    if (value) entries.push_back(prefix + *value);
  }
  return entries;
}

}  // namespace

struct ChildProcess::Impl {
  pid_t m_pid = -1;
  int m_stdinFd = -1;
  int m_stdoutFd = -1;
  std::optional<int> m_exitStatus;
  std::string m_error;

  ~Impl() {
    CloseFd(m_stdinFd);
    KillAndReap();
    CloseFd(m_stdoutFd);
  }

  // Records the status of a child that waitpid reported.
  void Reaped(int status) {
    m_pid = -1;
    if (WIFEXITED(status)) {
      m_exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      m_exitStatus = 128 + WTERMSIG(status);
    } else {
      m_exitStatus = 255;
    }
  }

  void KillAndReap() {
    if (m_pid <= 0) return;
    kill(-m_pid, SIGKILL);  // the whole group: launchers may have children
    kill(m_pid, SIGKILL);
    int status = 0;
    pid_t result;
    do {
      result = waitpid(m_pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    if (result == m_pid) {
      Reaped(status);
    } else {
      m_pid = -1;
      m_exitStatus = 255;
    }
  }
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

ChildProcess::Impl& ChildProcess::State() {
  if (!m_impl) m_impl = std::make_unique<Impl>();  // a moved-from object
  return *m_impl;
}

bool ChildProcess::Start(const ChildProcessOptions& options) {
  Impl& d = State();
  if (d.m_pid > 0 || d.m_stdoutFd >= 0 || d.m_exitStatus) {
    d.m_error = "this object already had a child";
    return false;
  }
  if (std::string problem = native::StartOptionsProblem(options); !problem.empty()) {
    d.m_error = std::move(problem);
    return false;
  }
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) {
    d.m_error = ErrnoText("cannot create a pipe", errno);
    return false;
  }
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    d.m_error = ErrnoText("cannot create a pipe", errno);
    close(in_pipe[0]);
    close(in_pipe[1]);
    return false;
  }

  SpawnActions actions;
  posix_spawn_file_actions_adddup2(&actions.m_value, in_pipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions.m_value, out_pipe[1], STDOUT_FILENO);
  if (!options.stderr_path.empty()) {
    posix_spawn_file_actions_addopen(&actions.m_value, STDERR_FILENO, options.stderr_path.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (native::StartsWithout(options, fd)) posix_spawn_file_actions_addclose(&actions.m_value, fd);
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions.m_value, 3);
#endif
  // The change of folder comes last among the actions, so that the standard
  // error file is opened where the caller named it.
  std::vector<std::string> arguments = options.command;
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions.m_value, options.working_directory.c_str());
    // The child resolves a relative program path after its change of
    // folder; the contract says the caller's folder.
    if (arguments[0].find('/') != std::string::npos && arguments[0][0] != '/') {
      std::error_code ignored;
      arguments[0] = std::filesystem::absolute(arguments[0], ignored).string();
    }
  }

  // The child starts with fresh signals (SpawnAttributes), in a process
  // group of its own so that Kill reaches the children a launcher makes.
  SpawnAttributes attributes(POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes.m_value, 0);

  std::vector<char*> argv = PointerArray(arguments);
  std::vector<std::string> environment = BuildEnvironment(options.environment);
  std::vector<char*> envp = PointerArray(environment);

  pid_t pid = -1;
  const bool search_path = options.command[0].find('/') == std::string::npos;
  const int result = search_path
                         ? posix_spawnp(&pid, argv[0], &actions.m_value, &attributes.m_value, argv.data(), envp.data())
                         : posix_spawn(&pid, argv[0], &actions.m_value, &attributes.m_value, argv.data(), envp.data());
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (result != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    const std::string folder = options.working_directory.empty() ? "" : " in the folder " + options.working_directory;
    d.m_error = ErrnoText(("cannot start " + options.command[0] + folder).c_str(), result);
    return false;
  }
  d.m_pid = pid;
  d.m_stdinFd = in_pipe[1];
  d.m_stdoutFd = out_pipe[0];
  SetNonBlocking(d.m_stdinFd);
  SetNonBlocking(d.m_stdoutFd);
  d.m_error.clear();
  return true;
}

bool ChildProcess::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (d.m_stdinFd < 0) {
    d.m_error = "the child's input is closed";
    return false;
  }
  const auto deadline = Clock::now() + timeout;
  SigpipeGuard guard;
  while (!bytes.empty()) {
    const ssize_t written = write(d.m_stdinFd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{d.m_stdinFd, POLLOUT, 0};
      const int ready = poll(&p, 1, RemainingMs(deadline));
      if (ready < 0 && errno != EINTR) {
        d.m_error = ErrnoText("cannot wait for the child's input", errno);
        return false;
      }
      if (ready == 0) {
        d.m_error = "timed out writing to the child's input";
        return false;
      }
      continue;  // writable, or POLLERR: the next write tells which
    }
    if (written < 0 && errno == EPIPE) {
      d.m_error = "the child no longer reads its input";
    } else {
      d.m_error = ErrnoText("cannot write to the child's input", written < 0 ? errno : EIO);
    }
    return false;
  }
  return true;
}

ReadStatus ChildProcess::Read(std::string& out, std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (d.m_stdoutFd < 0) return ReadStatus::kEndOfStream;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pollfd p{d.m_stdoutFd, POLLIN, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      d.m_error = ErrnoText("cannot wait for the child's output", errno);
      return ReadStatus::kError;
    }
    if (ready == 0) return ReadStatus::kTimeout;
    break;
  }
  // Drain what is there now; the descriptor is non-blocking.
  char buffer[65536];
  bool got_data = false;
  for (;;) {
    const ssize_t count = read(d.m_stdoutFd, buffer, sizeof buffer);
    if (count > 0) {
      out.append(buffer, static_cast<size_t>(count));
      got_data = true;
      continue;
    }
    if (count == 0) {
      // End of stream; with data already taken, report that first and let
      // the next call see the end.
      return got_data ? ReadStatus::kData : ReadStatus::kEndOfStream;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return got_data ? ReadStatus::kData : ReadStatus::kTimeout;
    }
    d.m_error = ErrnoText("cannot read the child's output", errno);
    return got_data ? ReadStatus::kData : ReadStatus::kError;
  }
}

void ChildProcess::CloseInput() {
  CloseFd(State().m_stdinFd);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (d.m_exitStatus) return d.m_exitStatus;
  if (d.m_pid <= 0) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    const pid_t result = waitpid(d.m_pid, &status, WNOHANG);
    if (result == d.m_pid) {
      d.Reaped(status);
      return d.m_exitStatus;
    }
    if (result < 0 && errno != EINTR) {
      d.m_error = ErrnoText("cannot wait for the child", errno);
      return std::nullopt;
    }
    const auto now = Clock::now();
    if (now >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

void ChildProcess::Kill() {
  if (m_impl) m_impl->KillAndReap();
}

bool ChildProcess::running() const {
  return m_impl && m_impl->m_pid > 0;
}

const std::string& ChildProcess::error() const {
  static const std::string kNone;
  return m_impl ? m_impl->m_error : kNone;
}

}  // namespace vorneth
