// The password dialog (credential_dialog_posix.h): finding zenity or
// kdialog, running it as a child over a pipe, and reading its answer.
#include "net/credential_dialog_posix.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/fd_io_posix.h"
#include "platform/spawn_posix.h"
#include "platform/status.h"

namespace vorneth::posix {
namespace {

// More than any user name and password typed by hand; a dialog that prints
// more is not answering.
constexpr size_t kMaxAnswer = 16384;
// Searched when PATH is not set, as the C library does.
constexpr char kDefaultPath[] = "/bin:/usr/bin";

// What a dialog printed, wiped before the memory goes back. Fixed in size,
// so that no reallocation leaves a copy behind.
class AnswerBuffer {
 public:
  AnswerBuffer() : m_bytes(std::make_unique<char[]>(kMaxAnswer)) {}
  ~AnswerBuffer() { WipeBytes(m_bytes.get(), kMaxAnswer); }
  AnswerBuffer(const AnswerBuffer&) = delete;
  AnswerBuffer& operator=(const AnswerBuffer&) = delete;

  char* free_space() { return m_bytes.get() + m_size; }
  size_t free_size() const { return kMaxAnswer - m_size; }
  void Grow(size_t count) { m_size += count; }
  // The answer without the one line feed a dialog puts after it.
  std::string_view text() const {
    std::string_view text(m_bytes.get(), m_size);
    if (text.ends_with('\n')) text.remove_suffix(1);
    return text;
  }

 private:
  std::unique_ptr<char[]> m_bytes;
  size_t m_size = 0;
};

// The host never changes its environment, so reading it races with nothing.
const char* Variable(const char* name) {
  return std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
}

bool HasEnvironment(const char* name) {
  const char* value = Variable(name);
  return value != nullptr && value[0] != '\0';
}

// The full path of the executable `name` in PATH, or empty. Empty and
// relative entries are skipped: a dialog is never run from the current
// folder.
std::string FindOnPath(const std::string& name) {
  const char* path = Variable("PATH");
  std::string_view rest = path != nullptr ? path : kDefaultPath;
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (folder.empty() || folder.front() != '/') continue;
    std::string candidate = std::string(folder) + "/" + name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

// Starts `command` (a full path and its arguments) with its standard
// output on a new pipe, whose reading end goes to `output`. False with
// `why` set when it could not start.
bool Spawn(std::vector<std::string> command, pid_t& pid, UniqueFd& output, std::string& why) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    why = ErrnoText("cannot create a pipe", errno);
    return false;
  }
  output.reset(ends[0]);
  const UniqueFd write_end(ends[1]);
  // The host's standard input and output carry its messages: the dialog
  // gets neither, and no other descriptor of the host either.
  SpawnActions actions;
  posix_spawn_file_actions_addopen(&actions.m_value, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions.m_value, write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions.m_value, STDERR_FILENO + 1);
  // Signals as a fresh program expects them, whatever the host did with
  // SIGPIPE or its mask.
  SpawnAttributes attributes;
  std::vector<char*> argv = PointerArray(command);
  const int result = posix_spawn(&pid, argv[0], &actions.m_value, &attributes.m_value, argv.data(), environ);
  if (result != 0) {
    why = ErrnoText(("cannot start " + command[0]).c_str(), result);
    return false;
  }
  return true;
}

// Reaps `pid`; its exit status, or -1 when a signal ended it.
int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the dialog `command` to its end. True when it exited with status 0;
// what it printed is then in `answer`. The dialog waits for the user, so
// this waits as long as it runs.
bool RunDialog(const std::vector<std::string>& command, AnswerBuffer& answer, std::string& why) {
  pid_t pid = -1;
  UniqueFd output(-1);
  if (!Spawn(command, pid, output, why)) return false;
  bool overflow = false;
  for (;;) {
    if (answer.free_size() == 0) {
      overflow = true;
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t count = read(output.get(), answer.free_space(), answer.free_size());
    if (count > 0) {
      answer.Grow(static_cast<size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  output.reset(-1);
  const int status = Reap(pid);
  if (overflow) {
    why = command[0] + " printed more than an answer";
  } else if (status != 0) {
    why = command[0] + " ended with status " + std::to_string(status) + " (cancelled)";
  }
  return !overflow && status == 0;
}

// zenity shows its --text as markup: the target's own characters must not
// be taken for it.
std::string EscapedMarkup(const std::string& text) {
  g_autofree gchar* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
  return escaped;
}

// One form; its lines are the user name, the password and "Yes" or "No".
// A password may hold any character an entry takes, so the user name is
// the first line, the choice the last, and the password all in between.
bool AskZenity(const std::string& program, const std::string& caption, const std::string& message,
               DialogCredential& answer, std::string& why) {
  AnswerBuffer output;
  const std::vector<std::string> command = {program,
                                            "--forms",
                                            "--title=" + caption,
                                            "--text=" + EscapedMarkup(message),
                                            "--add-entry=User name",
                                            "--add-password=Password",
                                            "--add-combo=Remember",
                                            "--combo-values=No|Yes",
                                            "--separator=\n"};
  if (!RunDialog(command, output, why)) return false;
  const std::string_view text = output.text();
  const size_t first = text.find('\n');
  const size_t last = text.rfind('\n');
  if (first == std::string_view::npos || first == last) {
    why = program + " printed no form";
    return false;
  }
  answer.m_user.Assign(text.substr(0, first));
  answer.m_password.Assign(text.substr(first + 1, last - first - 1));
  answer.m_remember = text.substr(last + 1) == "Yes";
  return true;
}

// Three dialogs: the user name, the password, whether to remember them.
bool AskKdialog(const std::string& program, const std::string& caption, const std::string& message,
                DialogCredential& answer, std::string& why) {
  {
    AnswerBuffer output;
    if (!RunDialog({program, "--title", caption, "--inputbox", message + "\n\nUser name:", ""}, output, why)) {
      return false;
    }
    answer.m_user.Assign(output.text());
  }
  {
    AnswerBuffer output;
    if (!RunDialog({program, "--title", caption, "--password", message + "\n\nPassword:"}, output, why)) {
      answer.m_user.Clear();
      return false;
    }
    answer.m_password.Assign(output.text());
  }
  AnswerBuffer ignored;
  std::string no;
  answer.m_remember = RunDialog(
      {program, "--title", caption, "--yesno", "Remember this user name and password for the proxy?"}, ignored, no);
  return true;
}

}  // namespace

bool AskCredentialDialog(const std::string& caption, const std::string& message, DialogCredential& answer,
                         std::string& why) {
  if (!HasEnvironment("DISPLAY") && !HasEnvironment("WAYLAND_DISPLAY")) {
    why = "no display";
    return false;
  }
  bool answered = false;
  if (const std::string zenity = FindOnPath("zenity"); !zenity.empty()) {
    answered = AskZenity(zenity, caption, message, answer, why);
  } else if (const std::string kdialog = FindOnPath("kdialog"); !kdialog.empty()) {
    answered = AskKdialog(kdialog, caption, message, answer, why);
  } else {
    why = "neither zenity nor kdialog is on the search path";
  }
  if (answered && answer.m_user.empty()) {
    why = "the answer has no user name (cancelled)";
    answered = false;
  }
  if (!answered) {
    answer.m_user.Clear();
    answer.m_password.Clear();
    answer.m_remember = false;
  }
  return answered;
}

}  // namespace vorneth::posix
