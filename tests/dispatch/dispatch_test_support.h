// Bounded waiting helpers shared by the dispatch tests: nothing here waits
// longer than kDeadline, so a broken hand-over fails a test instead of
// hanging it.
#ifndef VORNETH_TESTS_DISPATCH_DISPATCH_TEST_SUPPORT_H_
#define VORNETH_TESTS_DISPATCH_DISPATCH_TEST_SUPPORT_H_

#include <json/value.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "dispatch/command_cache.h"
#include "support/wait_until.h"

namespace vorneth::testing {

template <typename T>
bool IsReady(std::future<T>& future, std::chrono::milliseconds wait = kDeadline) {
  return future.wait_for(wait) == std::future_status::ready;
}

// Puts on a helper thread and waits for Put to return. False when it did not
// return within kDeadline; the cache is then released so the helper ends.
inline bool PutWithin(VornethCommandCache& cache, std::string command, Json::Value params, std::string callbackId) {
  std::promise<void> returned;
  std::future<void> future = returned.get_future();
  std::thread producer([&] {
    cache.Put(std::move(command), std::move(params), std::move(callbackId));
    returned.set_value();
  });
  const bool ok = IsReady(future);
  if (!ok) cache.ReleaseGet();
  producer.join();
  return ok;
}

}  // namespace vorneth::testing

#endif  // VORNETH_TESTS_DISPATCH_DISPATCH_TEST_SUPPORT_H_
