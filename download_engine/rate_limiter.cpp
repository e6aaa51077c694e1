#include "download_engine/rate_limiter.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

namespace engine {

namespace {

uint64_t NowUs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                               now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

constexpr uint32_t kMaxChunk = 64 * 1024;
constexpr uint32_t kMinChunk = 1024;

}  // namespace

void RateLimiter::SetRate(uint64_t bytesPerSecond) {
  std::lock_guard<std::mutex> hold(mutex_);
  rate_ = bytesPerSecond;
  tokens_ = 0;
  lastUs_ = NowUs();
  changed_.notify_all();
}

uint32_t RateLimiter::ChunkSize() const {
  uint64_t rate = Rate();
  if (rate == 0) return kMaxChunk;
  return static_cast<uint32_t>(std::clamp<uint64_t>(rate / 20, kMinChunk, kMaxChunk));
}

void RateLimiter::Refill(uint64_t nowUs) {
  if (nowUs > lastUs_) {
    tokens_ += static_cast<double>(rate_.load()) * static_cast<double>(nowUs - lastUs_) / 1e6;
    lastUs_ = nowUs;
  }
  // At most a tenth of a second's worth may pile up: bursts stay small.
  double capacity = std::max<double>(static_cast<double>(rate_.load()) / 10, kMaxChunk);
  if (tokens_ > capacity) tokens_ = capacity;
}

uint32_t RateLimiter::Acquire(uint32_t wanted, const std::atomic<bool>& cancel) {
  if (wanted == 0) return 0;
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    if (cancel.load()) return 0;
    uint64_t rate = rate_.load();
    if (rate == 0) return wanted;
    Refill(NowUs());
    double capacity = std::max<double>(static_cast<double>(rate) / 10, kMaxChunk);
    uint32_t need = static_cast<uint32_t>(std::min<double>(wanted, capacity));
    if (tokens_ >= need) {
      tokens_ -= need;
      return need;
    }
    double missingUs = (need - tokens_) * 1e6 / static_cast<double>(rate);
    auto wait = std::chrono::microseconds(static_cast<int64_t>(std::clamp(missingUs, 500.0, 100000.0)));
    changed_.wait_for(hold, wait);
  }
}

}  // namespace engine
