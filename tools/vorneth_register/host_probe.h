// Starting the host as a browser does and asking its version: the last
// step of check, which proves the registered host really runs.
//
// The host runs in its own folder with the arguments a browser hands it;
// it answers nothing before a page's "Create", so the probe sends one for a
// made-up page first, then "GetHostVersion", and waits a bounded time for
// the answer. The host is ended in every case. One call at a time per
// thread; no state is kept between calls.
#ifndef VORNETH_TOOLS_VORNETH_REGISTER_HOST_PROBE_H_
#define VORNETH_TOOLS_VORNETH_REGISTER_HOST_PROBE_H_

#include <chrono>
#include <string>
#include <vector>

namespace vorneth::reg {

inline constexpr std::chrono::milliseconds kProbeTimeout{15000};

struct ProbeResult {
  bool m_answered = false;
  // The version the host reported, when it answered.
  std::string m_version;
  // Why it did not answer, in plain words.
  std::string m_problem;
};

// Starts `host` with `arguments` in the host's own folder and asks it for
// its version, waiting at most `timeout` in all.
ProbeResult ProbeHost(const std::string& host, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds timeout = kProbeTimeout);

}  // namespace vorneth::reg

#endif  // VORNETH_TOOLS_VORNETH_REGISTER_HOST_PROBE_H_
