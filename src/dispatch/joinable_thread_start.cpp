// The one place where the system is asked for a thread; alone in its file so
// that a test can link a definition of its own (see joinable_thread.h).
#include <exception>
#include <system_error>

#include "dispatch/joinable_thread.h"

namespace vorneth {

Status StartThread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    return Status::Failed(std::string("std::thread: ") + error.what());
  } catch (const std::exception& error) {
    return Status::Failed(std::string("std::thread: ") + error.what());
  }
  return Status::Ok();
}

}  // namespace vorneth
