#include "platform/postponed_work.h"

#include <algorithm>
#include <array>

namespace vorneth {
namespace {

constexpr size_t kMaxPostponed = 4;

struct ThreadPostponed {
  int m_scopes = 0;
  std::array<PostponedFunction, kMaxPostponed> m_work{};
  size_t m_count = 0;
};

thread_local ThreadPostponed t_postponed;

}  // namespace

PostponementScope::PostponementScope() {
  ++t_postponed.m_scopes;
}

PostponementScope::~PostponementScope() {
  --t_postponed.m_scopes;
}

bool PostponementAllowed() {
  return t_postponed.m_scopes > 0;
}

void Postpone(PostponedFunction work) {
  ThreadPostponed& postponed = t_postponed;
  const auto end = postponed.m_work.begin() + postponed.m_count;
  if (std::find(postponed.m_work.begin(), end, work) != end) return;
  if (postponed.m_scopes == 0 || postponed.m_count == kMaxPostponed) {
    work();
    return;
  }
  postponed.m_work[postponed.m_count++] = work;
}

void RunPostponedWork() {
  ThreadPostponed& postponed = t_postponed;
  // Work may postpone more work while it runs; that runs in this call too.
  for (size_t i = 0; i < postponed.m_count; ++i) postponed.m_work[i]();
  postponed.m_count = 0;
}

}  // namespace vorneth
