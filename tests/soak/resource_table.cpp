#include "resource_table.h"

#include <algorithm>
#include <utility>

namespace vorneth::soak {

namespace {

// Minutes kept at most (a week); samples beyond it are dropped.
constexpr size_t kMaxTableMinutes = 7 * 24 * 60;

// True when `last` is within the allowed growth of `first`.
bool Flat(uint64_t first, uint64_t last, uint64_t slack) {
  return static_cast<double>(last) <= static_cast<double>(first) * (1.0 + kAllowedGrowth) + static_cast<double>(slack);
}

}  // namespace

ResourceTable::ResourceTable(std::vector<std::string> hosts) : m_hosts(std::move(hosts)) {}

void ResourceTable::Add(size_t host, size_t minute, const ProcessStats& stats, uint64_t sanitizer_threads) {
  if (host >= m_hosts.size() || minute >= kMaxTableMinutes) return;
  if (m_minutes.size() <= minute) m_minutes.resize(minute + 1, std::vector<Level>(m_hosts.size()));
  Level& level = m_minutes[minute][host];
  level.m_sampled = true;
  level.m_max.m_rssKib = std::max(level.m_max.m_rssKib, stats.m_rssKib);
  level.m_max.m_threads = std::max(level.m_max.m_threads, stats.m_threads);
  level.m_max.m_descriptors = std::max(level.m_max.m_descriptors, stats.m_descriptors);
  level.m_sanitizerThreads = std::max(level.m_sanitizerThreads, sanitizer_threads);
}

void ResourceTable::PrintRow(size_t minute, const std::string& progress, FILE* out) {
  if (!m_headerPrinted) {
    std::fprintf(out, "minute");
    for (const std::string& host : m_hosts) std::fprintf(out, " | %-24s", (host + ": RSS MiB thr fd").c_str());
    std::fprintf(out, " | traffic so far\n");
    m_headerPrinted = true;
  }
  std::fprintf(out, "%6zu", minute + 1);
  for (size_t host = 0; host < m_hosts.size(); ++host) {
    const bool sampled = minute < m_minutes.size() && m_minutes[minute][host].m_sampled;
    if (!sampled) {
      std::fprintf(out, " | %-24s", "-");
      continue;
    }
    const ProcessStats& max = m_minutes[minute][host].m_max;
    std::fprintf(out, " | %10.1f %5llu %5llu  ", static_cast<double>(max.m_rssKib) / 1024.0,
                 static_cast<unsigned long long>(max.m_threads), static_cast<unsigned long long>(max.m_descriptors));
  }
  std::fprintf(out, " | %s\n", progress.c_str());
  std::fflush(out);
}

bool ResourceTable::Verdict(FILE* out) const {
  bool flat = true;
  for (size_t host = 0; host < m_hosts.size(); ++host) {
    const size_t settled = std::min(kSettledMinute, m_minutes.empty() ? 0 : m_minutes.size() - 1);
    const Level* first = m_minutes.empty() ? nullptr : &m_minutes[settled][host];
    const Level* last = m_minutes.empty() ? nullptr : &m_minutes.back()[host];
    if (first == nullptr || !first->m_sampled || !last->m_sampled) {
      std::fprintf(out, "%s: no samples in minute %zu or the last minute\n", m_hosts[host].c_str(), settled + 1);
      flat = false;
      continue;
    }
    const uint64_t threadsStarted =
        last->m_sanitizerThreads - std::min(first->m_sanitizerThreads, last->m_sanitizerThreads);
    const uint64_t threadRecordsKib = threadsStarted * kSanitizerBytesPerThread / 1024;
    if (threadsStarted > 0) {
      std::fprintf(out, "%s started %llu threads, whose records the address sanitizer keeps: %llu KiB\n",
                   m_hosts[host].c_str(), static_cast<unsigned long long>(threadsStarted),
                   static_cast<unsigned long long>(threadRecordsKib));
    }
    const struct {
      const char* m_name;
      uint64_t m_first;
      uint64_t m_last;
      uint64_t m_slack;
    } resources[] = {
        {"resident memory (KiB)", first->m_max.m_rssKib, last->m_max.m_rssKib, threadRecordsKib},
        {"threads", first->m_max.m_threads, last->m_max.m_threads, kThreadSlack},
        {"open descriptors", first->m_max.m_descriptors, last->m_max.m_descriptors, kDescriptorSlack},
    };
    for (const auto& resource : resources) {
      const bool ok = Flat(resource.m_first, resource.m_last, resource.m_slack);
      const double growth = resource.m_first == 0
                                ? 0.0
                                : 100.0 *
                                      (static_cast<double>(resource.m_last) - static_cast<double>(resource.m_first)) /
                                      static_cast<double>(resource.m_first);
      std::fprintf(out, "%s %-22s minute %zu %8llu, last minute %8llu, %+6.1f %% (allowed %.0f %% + %llu): %s\n",
                   m_hosts[host].c_str(), resource.m_name, settled + 1,
                   static_cast<unsigned long long>(resource.m_first), static_cast<unsigned long long>(resource.m_last),
                   growth, 100.0 * kAllowedGrowth, static_cast<unsigned long long>(resource.m_slack),
                   ok ? "flat" : "GROWN");
      flat = flat && ok;
    }
  }
  return flat;
}

}  // namespace vorneth::soak
