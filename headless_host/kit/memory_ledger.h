// Host memory: every block handed out by NPN_MemAlloc (and the texts the host
// gives the plug-in) is on the ledger until NPN_MemFree takes it back, so a
// block freed twice, a pointer the host never gave, or a block never freed
// shows.
#pragma once

#include <cstdint>
#include <map>

class MemoryLedger {
 public:
  MemoryLedger() = default;
  ~MemoryLedger();
  MemoryLedger(const MemoryLedger&) = delete;
  MemoryLedger& operator=(const MemoryLedger&) = delete;

  // Null when the memory cannot be had; a zero size gets one byte.
  void* Allocate(uint32_t size);
  // False, and nothing freed, for memory that is not on the ledger.
  bool Free(void* block);
  bool Owns(const void* block) const { return blocks_.count(const_cast<void*>(block)) != 0; }

  std::size_t Blocks() const { return blocks_.size(); }
  uint64_t Bytes() const { return bytes_; }

 private:
  std::map<void*, uint32_t> blocks_;
  uint64_t bytes_ = 0;
};
