#include "headless_host/kit/memory_ledger.h"

#include <cstdlib>

MemoryLedger::~MemoryLedger() {
  for (auto& block : blocks_) std::free(block.first);
}

void* MemoryLedger::Allocate(uint32_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  blocks_[block] = size;
  bytes_ += size;
  return block;
}

bool MemoryLedger::Free(void* block) {
  auto found = blocks_.find(block);
  if (found == blocks_.end()) return false;
  bytes_ -= found->second;
  blocks_.erase(found);
  std::free(block);
  return true;
}
