// A host (the real one or the minimal one) with one page session, driven
// with "GetVersion" page requests whose answers are checked, so that the
// comparison driver cannot time a host that answers wrongly or not at all.
//
// Every request carries portId "p" and a callbackId of its own, counted up
// from 1 over the session. The session is opened with "Create" (url
// "https://bench.example", version "1.0") and one "GetVersion", written
// together; that first answer is checked member by member. Every later
// answer must be a whole frame naming the callbackId of one request of its
// batch, each exactly once, with nothing written beyond the answers. After
// Finish, Open starts a new host on the same data folder (HostRun::Start).
//
// Failures are those of HostRun: the host is killed and error() says why.
//
// Thread safety: none; one session belongs to one thread.
#ifndef VORNETH_BENCH_PAGE_SESSION_H_
#define VORNETH_BENCH_PAGE_SESSION_H_

#include <string>
#include <string_view>
#include <vector>

#include "host_run.h"

namespace vorneth::bench {

// The most requests one batch may hold.
inline constexpr long kMaxBatch = 64;

// Frames ready to send in one write: m_count requests with the callbackIds
// m_first, m_first + 1, ...
struct RequestBatch {
  long m_first = 0;
  long m_count = 0;
  std::string m_frames;
};

class PageSession {
 public:
  // Makes the host's scratch folder early (see HostRun::Prepare).
  bool Prepare() { return m_run.Prepare(); }

  // Starts `command` and opens the page session (see above).
  bool Open(const std::vector<std::string>& command);

  // `batches` batches of `per_batch` (1 to kMaxBatch) "GetVersion"
  // requests with the given params (a JSON array), with fresh callbackIds.
  std::vector<RequestBatch> Plan(long batches, long per_batch, std::string_view params_json = "[]");

  // Writes each batch at once and reads its answers before the next.
  bool Run(const std::vector<RequestBatch>& batches);
  bool Exchange(const RequestBatch& batch);

  bool Finish() { return m_run.Finish(); }

  HostRun& run() { return m_run; }
  const std::string& error() const { return m_run.error(); }

 private:
  HostRun m_run;
  long m_nextId = 1;
};

}  // namespace vorneth::bench

#endif  // VORNETH_BENCH_PAGE_SESSION_H_
