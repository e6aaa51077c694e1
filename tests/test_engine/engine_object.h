// What every engine object shares: its class name and number, its reference
// count, and its place in the process-wide object table. Objects are never
// freed: after the last Release an object stays in memory as a dead object,
// so that a call arriving later is recorded as a fault instead of touching
// freed memory.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "tests/test_engine/test_engine_control.h"

class EngineObject {
 public:
  explicit EngineObject(const wchar_t* className);
  EngineObject(const EngineObject&) = delete;
  EngineObject& operator=(const EngineObject&) = delete;

  const wchar_t* ClassName() const { return className_; }
  uint32_t Instance() const { return instance_; }
  bool Live() const { return references_.load() > 0; }

  // A reference asked for through a virtual table: counted, logged by the
  // caller under the name of the interface's object.
  ULONG CountedAddRef();
  // Returns the new count; at zero the object dies (Destroy is logged).
  ULONG CountedRelease();
  // The engine's own references (a fresh object's first, an interface
  // handed out by QueryInterface): counted, not logged.
  void InternalAddRef() { references_.fetch_add(1); }
  void InternalRelease();

  TestEngineObjectInfo Info() const;

 protected:
  // Runs once, when the count reaches zero.
  virtual void OnDestroy() {}
  virtual uint32_t SinkCount() const { return 0; }

  ~EngineObject() = default;

 private:
  void Die();

  const wchar_t* className_;
  uint32_t instance_;
  std::atomic<long> references_{1};
  std::atomic<uint32_t> addRefs_{0};
  std::atomic<uint32_t> releases_{0};
};

namespace object_table {

uint32_t Count(const wchar_t* className, bool liveOnly);
EngineObject* Find(const wchar_t* className, uint32_t instance);
// The newest live object of the class, or null.
EngineObject* NewestLive(const wchar_t* className);
// Forgets every object: the next one of each class is number 1 again.
void Reset();

}  // namespace object_table
