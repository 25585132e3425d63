// One host process as the soak driver drives it: the built vorneth-host
// over real pipes (tests/support/host_process.h), with a Ledger of what it
// owes, its pid for sampling, and its standard error in a file that is
// searched for sanitizer reports when it ends.
//
// Every wait is bounded. Nothing throws; what goes wrong is counted in the
// ledger or kept in faults(). One object is used from one thread at a time.
#ifndef VORNETH_TESTS_SOAK_SOAK_HOST_H_
#define VORNETH_TESTS_SOAK_SOAK_HOST_H_

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "host_process.h"
#include "ledger.h"

namespace vorneth::soak {

// How long one answer may take under the sanitizers on a loaded machine.
inline constexpr std::chrono::seconds kAnswerTimeout{60};

class SoakHost {
 public:
  // `name` names it in reports; its standard error goes to `stderr_path`.
  SoakHost(std::string name, const std::string& stderr_path);

  // Starts the host and finds its pid. False (with a fault) when either fails.
  bool Start();
  pid_t pid() const { return m_pid; }

  // "Create" for `url`, which the host does not answer.
  void Create(const std::string& url, const std::string& version);
  // A page or host command owed one answer that `check` accepts.
  void Page(const std::string& command, const std::string& params, AnswerCheck check);
  void Host(const std::string& command, const std::string& params, AnswerCheck check);

  // Reads frames until nothing is owed. False after kAnswerTimeout, with
  // everything still owed written off as missing, or when the host ended.
  bool Settle();
  // Closes the input (the browser closed the port), takes the frames that
  // still come, and waits for the exit: a status other than 0 or a
  // sanitizer report on standard error is a fault. Anything still owed
  // afterwards is missing.
  void Finish();

  Ledger& ledger() { return m_ledger; }
  const Ledger& ledger() const { return m_ledger; }
  const std::string& name() const { return m_name; }
  // Faults that are not about one frame (a start, a send, the exit), in words.
  const std::vector<std::string>& faults() const { return m_faults; }
  // True until a send failed or the host's output ended.
  bool healthy() const { return m_healthy; }

 private:
  void Send(const std::string& request);
  void Fault(const std::string& text);

  std::string m_name;
  std::string m_stderrPath;
  vorneth::testing::HostProcess m_host;
  Ledger m_ledger;
  pid_t m_pid = 0;
  bool m_healthy = true;
  std::vector<std::string> m_faults;
};

}  // namespace vorneth::soak

#endif  // VORNETH_TESTS_SOAK_SOAK_HOST_H_
