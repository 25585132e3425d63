// ChildProcess on Windows: CreateProcessW with the child in a job object of
// its own, and its standard input and output on a pair of named pipes whose
// parent ends are overlapped, so that reads and writes wait with a time
// limit and a timed-out operation is cancelled rather than left running.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "common/child_process_native.h"
#include "platform/windows_text.h"

namespace vorneth {

namespace {

using Clock = std::chrono::steady_clock;

// What Kill makes the child exit with: the status a POSIX caller sees for
// SIGKILL, so callers need no platform test.
constexpr UINT kKilledStatus = 128 + 9;
constexpr DWORD kPipeBufferSize = 65536;

// Owns one kernel handle. Both "no handle" values of the API are empty.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE value) : m_value(value == INVALID_HANDLE_VALUE ? nullptr : value) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : m_value(std::exchange(other.m_value, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      m_value = std::exchange(other.m_value, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return m_value; }
  explicit operator bool() const { return m_value != nullptr; }
  void Reset() {
    if (m_value != nullptr) CloseHandle(m_value);
    m_value = nullptr;
  }

 private:
  HANDLE m_value = nullptr;
};

// The system's description of `code`, as UTF-8 without the final line end.
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) WindowsUtf8(buffer, length, text);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
  return text.empty() ? number : text + " (" + number + ")";
}

std::string LastErrorText(const std::string& what) {
  return what + ": " + SystemMessage(GetLastError());
}

// Milliseconds left until `deadline` for the wait functions, never negative
// and never INFINITE.
DWORD RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFF));
}

// Appends `argument` to `line` so that the runtime's argument splitting
// gives it back unchanged: quoted when it is empty or holds blanks or
// quotes; inside the quotes a run of backslashes is doubled when a quote
// follows it (the closing one included), and a quote gets one more.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// The program name is split by simpler rules (no backslash escapes; a quote
// only starts or ends quoting), and Windows file names hold no quotes.
bool AppendProgram(std::wstring& line, const std::wstring& program) {
  if (program.find(L'"') != std::wstring::npos) return false;
  if (program.find_first_of(L" \t") == std::wstring::npos) {
    line += program;
  } else {
    line += L'"' + program + L'"';
  }
  return true;
}

bool HasDirectory(const std::wstring& program) {
  return program.find_first_of(L"\\/:") != std::wstring::npos;
}

// The file that `program` (a name without a directory) names in the
// caller's PATH, with ".exe" added when it has no extension; empty when
// there is none.
std::wstring SearchPath(const std::wstring& program) {
  const DWORD path_length = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (path_length == 0) return {};
  std::wstring path(path_length, L'\0');
  path.resize(GetEnvironmentVariableW(L"PATH", path.data(), path_length));
  std::wstring found(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        SearchPathW(path.c_str(), program.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0) return {};
    if (length < found.size()) {
      found.resize(length);
      return found;
    }
    found.resize(length);  // too small: `length` counts the terminator
  }
  return {};
}

// Environment names compare without regard to case on Windows.
bool SameName(const std::wstring& entry, const std::wstring& name) {
  if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
  return CompareStringOrdinal(entry.data(), static_cast<int>(name.size()), name.data(), static_cast<int>(name.size()),
                              TRUE) == CSTR_EQUAL;
}

// The caller's environment with `changes` applied, as a block for
// CreateProcessW: "NAME=value" entries, each ending in a zero, and one more
// zero at the end, sorted by name without regard to case as the system
// keeps it. False when a name or value is not valid UTF-8.
bool BuildEnvironment(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes,
                      std::wstring& block) {
  std::vector<std::wstring> entries;
  if (wchar_t* current = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) entries.emplace_back(entry);
    FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : changes) {
    const std::wstring wide_name = WindowsWide(name);
    if (wide_name.empty() || wide_name.find(L'=') != std::wstring::npos) return false;
    std::erase_if(entries, [&](const std::wstring& entry) { return SameName(entry, wide_name); });
    if (!value) continue;
    const std::wstring wide_value = WindowsWide(*value);
    if (wide_value.empty() && !value->empty()) return false;
    entries.push_back(wide_name + L'=' + wide_value);
  }
  // The hidden per-drive entries ("=C:=C:\...") have an empty name before
  // their '=' at position 0; the search for the separator starts after it.
  auto name_of = [](const std::wstring& entry) {
    const size_t separator = entry.find(L'=', 1);
    return std::wstring_view(entry.data(), separator == std::wstring::npos ? entry.size() : separator);
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const std::wstring& a, const std::wstring& b) {
    const std::wstring_view x = name_of(a);
    const std::wstring_view y = name_of(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
           CSTR_LESS_THAN;
  });
  block.clear();
  for (const std::wstring& entry : entries) {
    block += entry;
    block += L'\0';
  }
  if (entries.empty()) block += L'\0';
  block += L'\0';
  return true;
}

// One pipe: the parent's end, overlapped, and the child's end, ordinary and
// not yet inheritable. `parent_writes` says which way the bytes go.
bool MakePipe(bool parent_writes, Handle& parent_end, Handle& child_end, std::string& error) {
  static std::mutex counter_lock;
  static unsigned long counter = 0;
  unsigned long serial;
  {
    std::lock_guard lock(counter_lock);
    serial = ++counter;
  }
  const std::wstring name = L"\\\\.\\pipe\\vorneth-child-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(serial) + L"-" + std::to_wstring(GetTickCount64());
  // One instance only, made by us: if another process had taken the name,
  // or connects first, the pipe is refused rather than shared.
  parent_end = Handle(CreateNamedPipeW(name.c_str(),
                                       (parent_writes ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) |
                                           FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                       kPipeBufferSize, kPipeBufferSize, 0, nullptr));
  if (!parent_end) {
    error = LastErrorText("cannot create a pipe");
    return false;
  }
  // The child may query and set its end's state, as runtimes do.
  const DWORD access = parent_writes ? GENERIC_READ | FILE_WRITE_ATTRIBUTES : GENERIC_WRITE | FILE_READ_ATTRIBUTES;
  child_end = Handle(CreateFileW(name.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!child_end) {
    error = LastErrorText("cannot open a pipe");
    parent_end.Reset();
    return false;
  }
  return true;
}

// The attribute list that limits inheritance to the handles named in it.
class InheritList {
 public:
  explicit InheritList(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    m_storage.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    m_initialized = true;
    m_ok = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                     m_handles.size() * sizeof(HANDLE), nullptr, nullptr) != 0;
  }
  ~InheritList() {
    if (m_initialized) DeleteProcThreadAttributeList(get());
  }
  InheritList(const InheritList&) = delete;
  InheritList& operator=(const InheritList&) = delete;

  bool ok() const { return m_ok; }
  LPPROC_THREAD_ATTRIBUTE_LIST get() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data()); }

 private:
  std::vector<HANDLE> m_handles;
  std::vector<unsigned char> m_storage;
  bool m_initialized = false;
  bool m_ok = false;
};

// One overlapped operation on a parent pipe end, finished or cancelled
// before it returns, so that no buffer is in use once it has returned.
// Returns the system's error code (0 on success) and the bytes moved.
DWORD Overlapped(bool write, HANDLE pipe, HANDLE event, void* buffer, DWORD size, Clock::time_point deadline,
                 DWORD& moved) {
  moved = 0;
  OVERLAPPED operation = {};
  operation.hEvent = event;
  ResetEvent(event);
  const BOOL done =
      write ? WriteFile(pipe, buffer, size, nullptr, &operation) : ReadFile(pipe, buffer, size, nullptr, &operation);
  if (!done && GetLastError() != ERROR_IO_PENDING) return GetLastError();
  if (!done && WaitForSingleObject(event, RemainingMs(deadline)) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &operation);
  }
  // Waits for the end of the operation: it finished, or the cancellation
  // took effect (some bytes may have moved before it did).
  if (!GetOverlappedResult(pipe, &operation, &moved, TRUE)) return GetLastError();
  return 0;
}

// What CreateProcessW is handed, made from the options before anything is
// opened.
struct LaunchText {
  std::wstring m_line;         // the command line, program first
  std::wstring m_application;  // the file to run
  std::wstring m_environment;  // the block; empty for the caller's own
};

// The command line of `options`; false, with the reason, when the program
// or an argument cannot be written in one.
bool CommandLineOf(const ChildProcessOptions& options, std::wstring& line, std::string& error) {
  const std::string& program = options.command[0];
  const std::wstring wide_program = WindowsWide(program);
  if (wide_program.empty() || !AppendProgram(line, wide_program)) {
    error = "cannot start " + program + ": not a valid program name";
    return false;
  }
  for (size_t i = 1; i < options.command.size(); ++i) {
    const std::wstring argument = WindowsWide(options.command[i]);
    if (argument.empty() && !options.command[i].empty()) {
      error = "cannot start " + program + ": an argument is not valid UTF-8";
      return false;
    }
    AppendQuoted(line, argument);
  }
  return true;
}

// The file that `program` names: itself when it has a directory, else the
// one found in PATH.
bool ApplicationOf(const std::string& program, std::wstring& application, std::string& error) {
  application = WindowsWide(program);
  if (HasDirectory(application)) return true;
  application = SearchPath(application);
  if (!application.empty()) return true;
  error = "cannot start " + program + ": not found in PATH";
  return false;
}

// What CreateProcessW will be handed; false, with the reason, when the
// options cannot be written in it.
bool PrepareLaunch(const ChildProcessOptions& options, LaunchText& launch, std::string& error) {
  if (!CommandLineOf(options, launch.m_line, error)) return false;
  if (!ApplicationOf(options.command[0], launch.m_application, error)) return false;
  if (!options.environment.empty() && !BuildEnvironment(options.environment, launch.m_environment)) {
    error = "cannot start " + options.command[0] + ": an environment variable is not valid UTF-8";
    return false;
  }
  return true;
}

// A child's streams: the parent's ends of its pipes with their events, kept
// while it runs, and the three handles it starts with, closed once it has
// them (an empty m_childError: it starts without one).
struct ChildStreams {
  Handle m_input;   // parent's end of the child's standard input
  Handle m_output;  // parent's end of the child's standard output
  Handle m_inputEvent;
  Handle m_outputEvent;
  Handle m_childInput;
  Handle m_childOutput;
  Handle m_childError;
};

// The child's standard error: the file options.stderr_path, appended to, or
// else a duplicate of the caller's own (so that the caller's handle keeps
// its flags), if it has one.
bool OpenChildError(const ChildProcessOptions& options, Handle& child_error, std::string& error) {
  if (!options.stderr_path.empty()) {
    const std::wstring path = WindowsWide(options.stderr_path);
    child_error = Handle(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!child_error) error = LastErrorText("cannot open " + options.stderr_path);
    return static_cast<bool>(child_error);
  }
  HANDLE caller_error = GetStdHandle(STD_ERROR_HANDLE);
  if (caller_error == nullptr || caller_error == INVALID_HANDLE_VALUE) return true;
  HANDLE duplicate = nullptr;
  if (DuplicateHandle(GetCurrentProcess(), caller_error, GetCurrentProcess(), &duplicate, 0, FALSE,
                      DUPLICATE_SAME_ACCESS)) {
    child_error = Handle(duplicate);
  }
  return true;
}

bool OpenStreams(const ChildProcessOptions& options, ChildStreams& streams, std::string& error) {
  if (!MakePipe(true, streams.m_input, streams.m_childInput, error) ||
      !MakePipe(false, streams.m_output, streams.m_childOutput, error) ||
      !OpenChildError(options, streams.m_childError, error)) {
    return false;
  }
  streams.m_inputEvent = Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  streams.m_outputEvent = Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!streams.m_inputEvent || !streams.m_outputEvent) {
    error = LastErrorText("cannot create an event");
    return false;
  }
  return true;
}

// A job whose closing ends what is in it: a caller that ends without
// cleaning up takes the children with it. Empty when none can be made.
Handle KillOnCloseJob() {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  return job;
}

// The child's standard input, output and error; null for a stream it
// starts without.
std::array<HANDLE, 3> StandardHandles(const ChildProcessOptions& options, const ChildStreams& streams) {
  std::array<HANDLE, 3> standard = {streams.m_childInput.get(), streams.m_childOutput.get(),
                                    streams.m_childError.get()};
  for (int fd = 0; fd < 3; ++fd) {
    if (native::StartsWithout(options, fd)) standard[fd] = nullptr;
  }
  return standard;
}

// CreateProcessW with the handles `inherited` inheritable only during the
// call. The calls take turns: a child that another object starts meanwhile
// cannot take them, even where the handle list is not honoured. Returns
// what CreateProcessW returned, its error code left as the last error.
BOOL CreateInheriting(const std::vector<HANDLE>& inherited, LaunchText& launch, DWORD flags, const wchar_t* folder,
                      STARTUPINFOEXW& startup, PROCESS_INFORMATION& created) {
  static std::mutex inherit_lock;
  std::lock_guard lock(inherit_lock);
  for (HANDLE handle : inherited) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const BOOL ok = CreateProcessW(launch.m_application.c_str(), launch.m_line.data(), nullptr, nullptr, TRUE, flags,
                                 launch.m_environment.empty() ? nullptr : launch.m_environment.data(), folder,
                                 &startup.StartupInfo, &created);
  const DWORD create_error = GetLastError();
  for (HANDLE handle : inherited) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  SetLastError(create_error);
  return ok;
}

// Starts the child suspended (until Impl::Adopt has put it in its job), in
// a process group of its own (a Ctrl+C in the console is the caller's to
// handle), with the standard handles of `streams` that it does not start
// without, and only those inherited.
bool CreateSuspended(const ChildProcessOptions& options, LaunchText& launch, const ChildStreams& streams,
                     PROCESS_INFORMATION& created, std::string& error) {
  const std::array<HANDLE, 3> standard = StandardHandles(options, streams);
  std::vector<HANDLE> inherited;
  std::copy_if(standard.begin(), standard.end(), std::back_inserter(inherited),
               [](HANDLE handle) { return handle != nullptr; });
  InheritList inherit_list(inherited);
  if (!inherit_list.ok()) {
    error = LastErrorText("cannot limit the handles the child inherits");
    return false;
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = standard[0];
  startup.StartupInfo.hStdOutput = standard[1];
  startup.StartupInfo.hStdError = standard[2];
  startup.lpAttributeList = inherit_list.get();
  const DWORD flags =
      CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
  // An empty folder keeps the caller's. CreateProcessW takes a relative
  // program path from the caller's folder, not from this one.
  const std::wstring folder = WindowsWide(options.working_directory);
  if (folder.empty() && !options.working_directory.empty()) {
    error = "the folder " + options.working_directory + " is not valid UTF-8";
    return false;
  }
  if (CreateInheriting(inherited, launch, flags, folder.empty() ? nullptr : folder.c_str(), startup, created)) {
    return true;
  }
  error = LastErrorText("cannot start " + options.command[0] +
                        (folder.empty() ? "" : " in the folder " + options.working_directory));
  return false;
}

}  // namespace

struct ChildProcess::Impl {
  Handle m_process;
  Handle m_job;
  Handle m_input;   // parent's end of the child's standard m_input
  Handle m_output;  // parent's end of the child's standard m_output
  Handle m_inputEvent;
  Handle m_outputEvent;
  bool m_started = false;
  std::optional<int> m_exitStatus;
  std::string m_error;

  ~Impl() {
    m_input.Reset();
    KillAndReap();
    m_output.Reset();
    // Closing the m_job ends whatever a launcher child left behind.
    m_job.Reset();
  }

  // Takes the child that CreateSuspended started, with the parent's ends of
  // its streams, puts it in `job` and lets it run.
  void Adopt(const PROCESS_INFORMATION& created, Handle job, ChildStreams& streams) {
    Handle thread(created.hThread);
    m_process = Handle(created.hProcess);
    // Without a job (the caller's own job may forbid it) Kill still ends the
    // child itself.
    if (job && !AssignProcessToJobObject(job.get(), m_process.get())) job.Reset();
    ResumeThread(thread.get());
    m_job = std::move(job);
    m_input = std::move(streams.m_input);
    m_output = std::move(streams.m_output);
    m_inputEvent = std::move(streams.m_inputEvent);
    m_outputEvent = std::move(streams.m_outputEvent);
    m_started = true;
    m_error.clear();
  }

  // Records the status of the ended child and lets go of it.
  void Reaped() {
    DWORD code = 255;
    if (!GetExitCodeProcess(m_process.get(), &code)) code = 255;
    m_exitStatus = static_cast<int>(code);
    m_process.Reset();
  }

  void KillAndReap() {
    if (!m_process) return;
    // The whole m_job: launchers may have children.
    if (!m_job || !TerminateJobObject(m_job.get(), kKilledStatus)) TerminateProcess(m_process.get(), kKilledStatus);
    if (WaitForSingleObject(m_process.get(), 60000) == WAIT_OBJECT_0) {
      Reaped();
    } else {
      m_process.Reset();
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
  if (d.m_started) {
    d.m_error = "this object already had a child";
    return false;
  }
  if (std::string problem = native::StartOptionsProblem(options); !problem.empty()) {
    d.m_error = std::move(problem);
    return false;
  }
  LaunchText launch;
  ChildStreams streams;
  if (!PrepareLaunch(options, launch, d.m_error) || !OpenStreams(options, streams, d.m_error)) return false;
  Handle job = KillOnCloseJob();
  PROCESS_INFORMATION created = {};
  if (!CreateSuspended(options, launch, streams, created, d.m_error)) return false;
  d.Adopt(created, std::move(job), streams);
  return true;
}

bool ChildProcess::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (!d.m_input) {
    d.m_error = "the child's input is closed";
    return false;
  }
  const auto deadline = Clock::now() + timeout;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    const DWORD result = Overlapped(true, d.m_input.get(), d.m_inputEvent.get(), const_cast<char*>(bytes.data()), chunk,
                                    deadline, written);
    bytes.remove_prefix(written);
    if (result == ERROR_OPERATION_ABORTED || (result == 0 && written < chunk && Clock::now() >= deadline)) {
      d.m_error = "timed out writing to the child's input";
      return false;
    }
    if (result == ERROR_NO_DATA || result == ERROR_BROKEN_PIPE || result == ERROR_PIPE_NOT_CONNECTED) {
      d.m_error = "the child no longer reads its input";
      return false;
    }
    if (result != 0) {
      d.m_error = "cannot write to the child's input: " + SystemMessage(result);
      return false;
    }
  }
  return true;
}

ReadStatus ChildProcess::Read(std::string& out, std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (!d.m_output) return ReadStatus::kEndOfStream;
  const auto deadline = Clock::now() + timeout;
  const size_t before = out.size();
  char buffer[65536];
  DWORD count = 0;
  DWORD result = 0;
  // A read that completes with no bytes (an empty write at the other end)
  // brought nothing: wait on until the deadline.
  do {
    result = Overlapped(false, d.m_output.get(), d.m_outputEvent.get(), buffer, sizeof buffer, deadline, count);
    if (result == ERROR_BROKEN_PIPE || result == ERROR_PIPE_NOT_CONNECTED) return ReadStatus::kEndOfStream;
    if (result != 0 && result != ERROR_OPERATION_ABORTED) {
      d.m_error = "cannot read the child's output: " + SystemMessage(result);
      return ReadStatus::kError;
    }
    out.append(buffer, count);
  } while (out.size() == before && result == 0 && Clock::now() < deadline);
  if (out.size() == before) return ReadStatus::kTimeout;
  // Drain what is there now. A pipe whose writer is gone reports the end on
  // the next call, after its last bytes.
  for (int round = 0; round < 64; ++round) {
    DWORD available = 0;
    if (!PeekNamedPipe(d.m_output.get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
    result = Overlapped(false, d.m_output.get(), d.m_outputEvent.get(), buffer,
                        std::min<DWORD>(available, sizeof buffer), Clock::now(), count);
    out.append(buffer, count);
    if (result != 0 || count == 0) break;
  }
  return ReadStatus::kData;
}

void ChildProcess::CloseInput() {
  State().m_input.Reset();
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  Impl& d = State();
  if (d.m_exitStatus) return d.m_exitStatus;
  if (!d.m_process) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  // One wait reaches at most 24 days ahead: wait again until the deadline.
  for (;;) {
    const DWORD result = WaitForSingleObject(d.m_process.get(), RemainingMs(deadline));
    if (result == WAIT_OBJECT_0) {
      d.Reaped();
      return d.m_exitStatus;
    }
    if (result != WAIT_TIMEOUT) {
      d.m_error = LastErrorText("cannot wait for the child");
      return std::nullopt;
    }
    if (Clock::now() >= deadline) return std::nullopt;
  }
}

void ChildProcess::Kill() {
  if (m_impl) m_impl->KillAndReap();
}

bool ChildProcess::running() const {
  return m_impl && m_impl->m_process;
}

const std::string& ChildProcess::error() const {
  static const std::string kNone;
  return m_impl ? m_impl->m_error : kNone;
}

}  // namespace vorneth
