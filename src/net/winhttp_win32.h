// WinHTTP handles with an owner, and the error code of a failed call.
// Internal to the Windows side of the platform layer (the transport and
// proxy discovery).
#ifndef VORNETH_NET_WINHTTP_WIN32_H_
#define VORNETH_NET_WINHTTP_WIN32_H_

#include <windows.h>
// windows.h first: winhttp.h relies on it.
#include <winhttp.h>

#include "net/http_transport.h"

namespace vorneth {

// Owns one WinHTTP handle (or none) and closes it.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET value) : m_value(value) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return m_value; }
  explicit operator bool() const { return m_value != nullptr; }
  void Reset(HINTERNET value = nullptr) {
    if (m_value != nullptr) WinHttpCloseHandle(m_value);
    m_value = value;
  }

 private:
  HINTERNET m_value = nullptr;
};

// GetLastError() after a failed call; a failure without an error code must
// still read as one.
inline HttpError LastHttpError() {
  const DWORD error = GetLastError();
  return error != 0 ? error : kHttpErrorInternal;
}

// The result of a WinHTTP call that returned `succeeded`.
inline HttpError Outcome(BOOL succeeded) {
  return succeeded ? kHttpOk : LastHttpError();
}

}  // namespace vorneth

#endif  // VORNETH_NET_WINHTTP_WIN32_H_
