// Text that must not outlive its use: proxy user names and passwords.
//
// A SecretText owns its bytes and overwrites every one of them before the
// memory goes back (on destruction, Clear, assignment and moves), so a
// credential never lingers in freed memory. It never reallocates behind the
// caller's back: Assign takes the whole text at once. Copying is not
// offered; Move hands the bytes over and wipes the source.
//
// Not thread-safe; one owner at a time.
#ifndef VORNETH_NET_SECRET_TEXT_H_
#define VORNETH_NET_SECRET_TEXT_H_

#include <cstddef>
#include <memory>
#include <string_view>

namespace vorneth {

class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string_view text) { Assign(text); }
  ~SecretText() { Clear(); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  SecretText(SecretText&& other) noexcept;
  SecretText& operator=(SecretText&& other) noexcept;

  // Replaces the text; the previous bytes are wiped first.
  void Assign(std::string_view text);
  // Wipes and releases the bytes; the text is then empty.
  void Clear();

  bool empty() const { return m_size == 0; }
  size_t size() const { return m_size; }
  // The bytes, followed by a NUL that is not counted in size().
  const char* c_str() const { return m_bytes ? m_bytes.get() : ""; }
  std::string_view view() const { return {c_str(), m_size}; }

 private:
  std::unique_ptr<char[]> m_bytes;  // m_size bytes and a NUL, or none
  size_t m_size = 0;
};

// Overwrites `size` bytes at `bytes` with zeros in a way the compiler may
// not remove as a dead store.
void WipeBytes(void* bytes, size_t size);

}  // namespace vorneth

#endif  // VORNETH_NET_SECRET_TEXT_H_
