// A child process whose standard input and output are pipes held by the
// caller: the way a browser runs the host, and the way the command-line
// client, the end-to-end tests and the benchmarks run it.
//
// Contract:
// - `Start` launches options.command[0] with the remaining elements as its
//   arguments. The program may be a launcher (for instance an emulator that
//   runs the real executable named by a later argument). A name without a
//   directory separator is looked up in the caller's PATH (on Windows with
//   ".exe" added when it has no extension). On Windows the arguments reach
//   the child quoted so that the runtime's usual splitting of its command
//   line gives them back unchanged.
// - The child's environment is the caller's, changed by options.environment:
//   a pair with a value sets (or overrides) the variable, a pair without a
//   value removes it. Later pairs win over earlier ones. On Windows names
//   match without regard to case, as the system treats them.
// - The child's standard error is the caller's unless options.stderr_path
//   names a file, which is then created or appended to.
// - The child starts in options.working_directory when it is not empty,
//   otherwise in the caller's current folder. A relative program path is
//   taken from the caller's current folder either way. A folder that does
//   not exist makes Start fail.
// - No file descriptor or handle of the caller other than the three standard
//   ones reaches the child, so several children can run side by side and each
//   sees the end of its input when its own pipe is closed.
// - Nothing here throws; failures come back as return values, and `error()`
//   describes the most recent one in words.
// - Writing into a child that no longer reads reports failure; it never
//   raises a signal that would end the caller.
// - The destructor kills a child that is still running and reaps it, so no
//   zombie and no orphan outlives the object. On Windows the child and any
//   process it starts are in a job that ends with the object, or with the
//   caller should it end without destroying the object.
//
// Thread safety: one object is used from one thread at a time.
#ifndef VORNETH_COMMON_CHILD_PROCESS_H_
#define VORNETH_COMMON_CHILD_PROCESS_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorneth {

struct ChildProcessOptions {
  // Program followed by its arguments; must not be empty.
  std::vector<std::string> command;
  // Variables to set (with a value) or remove (without one).
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // Empty: standard error is inherited. Otherwise the file that receives it.
  std::string stderr_path;
  // Standard descriptors (0 input, 1 output, 2 error) the child starts
  // without, as a careless parent might start it. A closed output reads as
  // its end at once. Other numbers are refused by Start.
  std::vector<int> closed_standard_streams = {};
  // Empty: the caller's current folder. Otherwise the folder the child
  // starts in.
  std::string working_directory = {};
};

enum class ReadStatus {
  kData,         // at least one byte was appended
  kTimeout,      // nothing arrived within the time allowed
  kEndOfStream,  // the child closed its standard output (or never had one)
  kError,        // the read failed; see error()
};

class ChildProcess {
 public:
  // An object with no child; Start gives it one.
  ChildProcess();
  ~ChildProcess();
  ChildProcess(ChildProcess&&) noexcept;
  ChildProcess& operator=(ChildProcess&&) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Launches the child. False when it could not be started (the program is
  // missing or not executable, a pipe could not be made, or this object
  // already had a child); error() says why.
  bool Start(const ChildProcessOptions& options);

  // Writes every byte of `bytes` to the child's standard input, waiting at
  // most `timeout` in total while the pipe is full. False when the input is
  // closed, the child stopped reading, or the time ran out; in the last case
  // a prefix of `bytes` may already have been written.
  bool Write(std::string_view bytes, std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // Waits at most `timeout` for output and appends whatever is available
  // (at least one byte when the result is kData) to `out`.
  ReadStatus Read(std::string& out, std::chrono::milliseconds timeout);

  // Closes the child's standard input, so that it sees the end of its input.
  // Doing it twice is harmless.
  void CloseInput();

  // Waits at most `timeout` for the child to end. Returns its exit status
  // (0 to 255), or 128 + the signal number when a signal ended it; nullopt
  // when it is still running after `timeout` or there is no child. Once the
  // child has ended every later call returns the same status at once.
  // On Windows the status is the process's 32-bit exit code as it is (a
  // crash gives its exception code, such as 0xC0000005, a negative int).
  std::optional<int> Wait(std::chrono::milliseconds timeout);

  // Ends the child at once, without giving it a chance to clean up, and
  // reaps it; its status is then 137 (128 + SIGKILL) on every platform,
  // unless it had ended by itself. Processes the child started end with it.
  // Nothing happens when there is no running child.
  void Kill();

  // True from a successful Start until the child has been reaped.
  bool running() const;
  // Description of the most recent failure; empty when there was none.
  const std::string& error() const;

 private:
  struct Impl;
  Impl& State();
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vorneth

#endif  // VORNETH_COMMON_CHILD_PROCESS_H_
