#include "download_engine/slot_rules.h"

#include <algorithm>

namespace engine {

SlotDecision DecideSlots(const std::vector<SlotEntry>& work, int maxDownloads, uint64_t nowMs) {
  SlotDecision decision;
  size_t limit = static_cast<size_t>(std::max(1, maxDownloads));
  // Newest last: by start time, and of two started at once the later in the list.
  std::vector<size_t> running;
  for (size_t i = 0; i < work.size(); ++i)
    if (work[i].downloading) running.push_back(i);
  std::stable_sort(running.begin(), running.end(),
                   [&](size_t a, size_t b) { return work[a].startedMs < work[b].startedMs; });
  while (running.size() > limit) {
    decision.sendBack.push_back(running.back());
    running.pop_back();
  }
  size_t active = 0;
  for (const SlotEntry& entry : work) active += entry.hasTransfer ? 1 : 0;
  for (size_t i = 0; i < work.size() && active < limit; ++i) {
    const SlotEntry& entry = work[i];
    if (!entry.queued || entry.hasTransfer || entry.retryAtMs > nowMs) continue;
    decision.start.push_back(i);
    ++active;
  }
  return decision;
}

}  // namespace engine
