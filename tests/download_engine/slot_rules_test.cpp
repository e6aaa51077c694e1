// The download-slot rule on its own: who is sent back when the limit drops,
// who starts, and what keeps a slot.
#include <gtest/gtest.h>

#include "download_engine/slot_rules.h"

namespace {

using engine::DecideSlots;
using engine::SlotDecision;
using engine::SlotEntry;

SlotEntry Downloading(uint64_t startedMs) {
  SlotEntry entry;
  entry.hasTransfer = true;
  entry.downloading = true;
  entry.startedMs = startedMs;
  return entry;
}

SlotEntry Queued(uint64_t retryAtMs = 0) {
  SlotEntry entry;
  entry.queued = true;
  entry.retryAtMs = retryAtMs;
  return entry;
}

SlotEntry WindingDown() {  // stopped by the page, its connections still closing
  SlotEntry entry;
  entry.hasTransfer = true;
  return entry;
}

SlotEntry Idle() { return SlotEntry(); }  // stopped, failed or cancelled

TEST(SlotRules, DecidesWhoIsSentBackAndWhoStarts) {
  const struct {
    const char* name;
    std::vector<SlotEntry> work;
    int limit;
    std::vector<size_t> sendBack, start;
  } cases[] = {
      {"queued tasks start in list order up to the limit", {Queued(), Idle(), Queued(), Queued()}, 2, {}, {0, 2}},
      {"a limit below one counts as one", {Queued(), Queued()}, 0, {}, {0}},
      {"running downloads keep their slots", {Downloading(5), Queued(), Queued()}, 2, {}, {1}},
      {"a lowered limit sends the newest back, newest first",
       {Downloading(30), Downloading(10), Downloading(20), Queued()}, 1, {0, 2}, {}},
      {"of two started at once the later in the list is the newer", {Downloading(7), Downloading(7)}, 1, {1}, {}},
      {"a transfer winding down holds its slot", {WindingDown(), Queued()}, 1, {}, {}},
      {"a task waiting to retry is passed over", {Queued(2000), Queued()}, 1, {}, {1}},
      {"a retry whose time has come starts", {Queued(1000)}, 1, {}, {0}},
  };
  for (const auto& c : cases) {
    SlotDecision decision = DecideSlots(c.work, c.limit, 1000);
    EXPECT_EQ(c.sendBack, decision.sendBack) << c.name;
    EXPECT_EQ(c.start, decision.start) << c.name;
  }
}

}  // namespace
