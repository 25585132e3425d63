#include "net/secret_text.h"

#include <cstring>
#include <utility>

namespace vorneth {

void WipeBytes(void* bytes, size_t size) {
  // Stores through a volatile pointer are observable behaviour, so they
  // survive optimisation even right before the memory is freed.
  volatile unsigned char* cursor = static_cast<volatile unsigned char*>(bytes);
  for (size_t i = 0; i < size; ++i) cursor[i] = 0;
}

SecretText::SecretText(SecretText&& other) noexcept
    : m_bytes(std::move(other.m_bytes)), m_size(std::exchange(other.m_size, 0)) {}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
  if (this != &other) {
    Clear();
    m_bytes = std::move(other.m_bytes);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

void SecretText::Assign(std::string_view text) {
  Clear();
  if (text.empty()) return;
  m_bytes = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(m_bytes.get(), text.data(), text.size());
  m_bytes[text.size()] = '\0';
  m_size = text.size();
}

void SecretText::Clear() {
  if (m_bytes) WipeBytes(m_bytes.get(), m_size + 1);
  m_bytes.reset();
  m_size = 0;
}

}  // namespace vorneth
