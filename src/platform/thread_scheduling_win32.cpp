#include "platform/thread_scheduling.h"

namespace vorneth {

// Windows has no request of this kind for a single thread; its scheduler
// already lets a woken thread wait for a free processor.
void PreferLongTurns() {}

}  // namespace vorneth
