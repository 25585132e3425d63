// The requests of one vorneth-cli run, taken from the command line or, line
// by line, from standard input.
//
// Standard input is read on a thread of its own so that the host's output
// is printed while a person is still typing. What that thread fills is
// shared with it (m_mutex guards it): a reader still blocked on standard
// input when the client ends is left behind, and must not find the lines
// gone. Take and Exhausted are called from the client's main thread.
#ifndef VORNETH_TOOLS_VORNETH_CLI_REQUEST_SOURCE_H_
#define VORNETH_TOOLS_VORNETH_CLI_REQUEST_SOURCE_H_

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "options.h"
#include "platform/mutex.h"

namespace vorneth::cli {

class RequestSource {
 public:
  explicit RequestSource(const Options& options);
  ~RequestSource();
  RequestSource(const RequestSource&) = delete;
  RequestSource& operator=(const RequestSource&) = delete;

  // The next request if one is ready.
  std::optional<std::string> Take();
  // True when every request has been taken and no more will come.
  bool Exhausted();

 private:
  struct Lines {
    Mutex m_mutex;
    std::deque<std::string> m_lines GUARDED_BY(m_mutex);
    bool m_ended GUARDED_BY(m_mutex) = false;
  };

  static void ReadStandardInput(Lines& shared);

  const std::shared_ptr<Lines> m_shared = std::make_shared<Lines>();
  std::thread m_reader;
};

}  // namespace vorneth::cli

#endif  // VORNETH_TOOLS_VORNETH_CLI_REQUEST_SOURCE_H_
