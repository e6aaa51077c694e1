#include "download_engine/size_rules.h"

#include <algorithm>
#include <cmath>

namespace engine {

bool ValidSize(int64_t value) { return value >= 0 && value <= kMaxResourceSize; }

bool CheckedAdd(int64_t a, int64_t b, int64_t* sum) { return !__builtin_add_overflow(a, b, sum); }

uint32_t ClampToUint32(double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

bool ValidSegments(const std::vector<Segment>& segments, int64_t size, std::wstring* reason) {
  if (size != -1 && !ValidSize(size)) {
    *reason = L"the size is out of range";
    return false;
  }
  if (segments.size() > kMaxSegments) {
    *reason = L"too many ranges";
    return false;
  }
  std::vector<Segment> sorted = segments;
  std::sort(sorted.begin(), sorted.end(), [](const Segment& a, const Segment& b) { return a.begin < b.begin; });
  int64_t covered = 0;  // the end of the ranges before this one
  for (size_t i = 0; i < sorted.size(); ++i) {
    const Segment& segment = sorted[i];
    bool open = segment.end == -1;
    if (!ValidSize(segment.begin) || !ValidSize(segment.done) || (!open && !ValidSize(segment.end)) ||
        (!open && segment.end < segment.begin)) {
      *reason = L"a range is out of bounds";
      return false;
    }
    // Both are at most 2^53: the sum cannot overflow.
    if (!open && segment.begin + segment.done > segment.end) {
      *reason = L"a range holds more bytes than it spans";
      return false;
    }
    if (open && (size >= 0 || i + 1 != sorted.size() || segment.begin + segment.done > kMaxResourceSize)) {
      *reason = L"a range without an end where the size is known";
      return false;
    }
    if (!open && size >= 0 && segment.end > size) {
      *reason = L"a range ends beyond the size";
      return false;
    }
    if (segment.begin < covered) {
      *reason = L"ranges overlap";
      return false;
    }
    covered = open ? kMaxResourceSize : segment.end;
  }
  return true;
}

bool ClipToFile(std::vector<Segment>* segments, int64_t length) {
  bool clipped = false;
  for (auto& segment : *segments) {
    int64_t room = std::max<int64_t>(0, length - segment.begin);
    if (segment.done > room) {
      segment.done = room;
      clipped = true;
    }
  }
  return clipped;
}

}  // namespace engine
