// The outcome of an operation that can fail: success, or a failure with a
// short text that says what failed and why (the operation and, where there
// is one, the system's own error text). Callers that cannot pass a failure
// on trace it; none is dropped silently.
#ifndef VORNETH_PLATFORM_STATUS_H_
#define VORNETH_PLATFORM_STATUS_H_

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace vorneth {

class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  static Status Failed(std::string why) { return Status(std::move(why)); }

  bool ok() const { return m_ok; }
  // Empty for success.
  const std::string& why() const { return m_why; }

 private:
  Status() = default;
  explicit Status(std::string why) : m_ok(false), m_why(std::move(why)) {}

  bool m_ok = true;
  std::string m_why;
};

// "<what>: " and the C library's text for the error number `error` (an
// errno value), safe to call from any thread.
inline std::string ErrnoText(std::string_view what, int error) {
  return std::string(what) + ": " + std::generic_category().message(error);
}

// A failure whose reason is an errno value.
inline Status ErrnoFailure(std::string_view what, int error) {
  return Status::Failed(ErrnoText(what, error));
}

}  // namespace vorneth

#endif  // VORNETH_PLATFORM_STATUS_H_
