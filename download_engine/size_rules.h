// Numbers from outside the engine (a server's lengths and ranges, the journal's
// sizes and offsets, a page's values) are checked here before they size,
// offset or count anything. The bound keeps every sum of two checked numbers
// far from overflowing a signed 64-bit value and exact in a double, and no
// disk holds a file that large; the 32-bit engine has a 32-bit size_t, so
// nothing outside is ever cast to one unchecked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "download_engine/task.h"

namespace engine {

// The largest resource size the engine handles: 2^53 bytes (8 PiB).
constexpr int64_t kMaxResourceSize = int64_t(1) << 53;
// The most byte ranges a task keeps (connections split the file into ranges).
constexpr size_t kMaxSegments = 65536;

// 0 <= value <= kMaxResourceSize.
bool ValidSize(int64_t value);

// a + b into *sum, false when it would overflow.
bool CheckedAdd(int64_t a, int64_t b, int64_t* sum);

// The value in the narrower type, or false when it does not fit.
template <typename Narrow, typename Wide>
bool Narrowed(Wide value, Narrow* result) {
  static_assert(std::numeric_limits<Narrow>::is_integer && std::numeric_limits<Wide>::is_integer, "integers only");
  if (std::numeric_limits<Wide>::is_signed && !std::numeric_limits<Narrow>::is_signed && value < 0) return false;
  if (value < 0) {
    if (static_cast<int64_t>(value) < static_cast<int64_t>(std::numeric_limits<Narrow>::min())) return false;
  } else if (static_cast<uint64_t>(value) > static_cast<uint64_t>(std::numeric_limits<Narrow>::max())) {
    return false;
  }
  *result = static_cast<Narrow>(value);
  return true;
}

// A rate or other measured figure as an unsigned 32-bit value: negative and
// not-a-number give 0, too large gives the largest.
uint32_t ClampToUint32(double value);

// The ranges of a task as the journal or a transfer hands them over, against
// the task's size (-1 unknown): each begins at 0 or later, ends within the
// size (or is open, -1, only while the size is unknown), holds no more bytes
// than it spans, and no two overlap. False with a reason otherwise.
bool ValidSegments(const std::vector<Segment>& segments, int64_t size, std::wstring* reason);

// Limits each range's bytes to what a file of that length can hold; true when
// any range lost bytes.
bool ClipToFile(std::vector<Segment>* segments, int64_t length);

}  // namespace engine
