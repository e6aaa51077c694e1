// Which tasks hold the download slots: the limit on downloads at once, decided
// from each work-list entry's state alone so that the rule can be checked
// without transfers. A lowered limit sends the most recently started
// downloads back to the queue; a transfer still winding down keeps its slot
// until it ends; queued tasks start in list order once their retry time has
// come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

struct SlotEntry {
  bool hasTransfer = false;  // connections may still run (downloading or winding down)
  bool downloading = false;  // connecting or downloading, with its transfer
  bool queued = false;
  uint64_t startedMs = 0;
  uint64_t retryAtMs = 0;
};

struct SlotDecision {
  std::vector<size_t> sendBack;  // newest first
  std::vector<size_t> start;     // in list order
};

SlotDecision DecideSlots(const std::vector<SlotEntry>& work, int maxDownloads, uint64_t nowMs);

}  // namespace engine
