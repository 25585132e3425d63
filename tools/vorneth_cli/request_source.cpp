#include "request_source.h"

#include <iostream>

namespace vorneth::cli {

RequestSource::RequestSource(const Options& options) {
  if (!options.m_fromStdin) {
    MutexLock lock(&m_shared->m_mutex);
    m_shared->m_lines.assign(options.m_requests.begin(), options.m_requests.end());
    m_shared->m_ended = true;
    return;
  }
  m_reader = std::thread([shared = m_shared] { ReadStandardInput(*shared); });
}

RequestSource::~RequestSource() {
  if (!m_reader.joinable()) return;
  bool ended;
  {
    MutexLock lock(&m_shared->m_mutex);
    ended = m_shared->m_ended;
  }
  // A reader still blocked on standard input cannot be woken portably; it
  // ends with the process, holding its share of the lines.
  if (ended) {
    m_reader.join();
  } else {
    m_reader.detach();
  }
}

std::optional<std::string> RequestSource::Take() {
  MutexLock lock(&m_shared->m_mutex);
  if (m_shared->m_lines.empty()) return std::nullopt;
  std::string line = std::move(m_shared->m_lines.front());
  m_shared->m_lines.pop_front();
  return line;
}

bool RequestSource::Exhausted() {
  MutexLock lock(&m_shared->m_mutex);
  return m_shared->m_ended && m_shared->m_lines.empty();
}

void RequestSource::ReadStandardInput(Lines& shared) {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    MutexLock lock(&shared.m_mutex);
    shared.m_lines.push_back(line);
  }
  MutexLock lock(&shared.m_mutex);
  shared.m_ended = true;
}

}  // namespace vorneth::cli
