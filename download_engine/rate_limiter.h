// The download limit shared by every connection of every task: a token bucket
// filled at the limit's rate. A connection takes tokens for the bytes it is
// about to read and waits while there are none.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace engine {

class RateLimiter {
 public:
  // Bytes per second; 0 means unlimited. Reading the rate takes no lock.
  void SetRate(uint64_t bytesPerSecond);
  uint64_t Rate() const { return rate_.load(std::memory_order_relaxed); }

  // Waits until the bytes may be read; returns how many were granted (at most
  // wanted, at least one unless cancelled), or 0 once cancel is set.
  uint32_t Acquire(uint32_t wanted, const std::atomic<bool>& cancel);

  // Bytes a connection should ask for at once: small enough that a low limit
  // stays smooth, large enough to keep fast transfers cheap.
  uint32_t ChunkSize() const;

 private:
  void Refill(uint64_t nowUs);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<uint64_t> rate_{0};
  double tokens_ = 0;
  uint64_t lastUs_ = 0;
};

}  // namespace engine
