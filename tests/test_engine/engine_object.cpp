#include "tests/test_engine/engine_object.h"

#include <cwchar>
#include <mutex>
#include <vector>

#include "tests/test_engine/call_log.h"

namespace {

struct Table {
  std::mutex mutex;
  std::vector<EngineObject*> objects;  // in creation order
};

Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

bool SameClass(const EngineObject* object, const wchar_t* className) {
  return className == nullptr || std::wcscmp(object->ClassName(), className) == 0;
}

uint32_t Enter(EngineObject* object, const wchar_t* className) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  uint32_t number = 1;
  for (EngineObject* other : table.objects)
    if (SameClass(other, className)) ++number;
  table.objects.push_back(object);
  return number;
}

}  // namespace

EngineObject::EngineObject(const wchar_t* className)
    : className_(className), instance_(Enter(this, className)) {}

ULONG EngineObject::CountedAddRef() {
  addRefs_.fetch_add(1);
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

ULONG EngineObject::CountedRelease() {
  releases_.fetch_add(1);
  long now = references_.fetch_sub(1) - 1;
  if (now == 0) Die();
  return static_cast<ULONG>(now);
}

void EngineObject::InternalRelease() {
  if (references_.fetch_sub(1) - 1 == 0) Die();
}

void EngineObject::Die() {
  OnDestroy();
  LoggedCall call;
  call.object = className_;
  call.instance = instance_;
  call.method = L"Destroy";
  call.slot = -1;
  call.thread = GetCurrentThreadId();
  call_log::Append(std::move(call));
}

TestEngineObjectInfo EngineObject::Info() const {
  TestEngineObjectInfo info{};
  info.object = className_;
  info.instance = instance_;
  info.references = references_.load();
  info.live = Live();
  info.addRefs = addRefs_.load();
  info.releases = releases_.load();
  info.sinks = SinkCount();
  return info;
}

namespace object_table {

uint32_t Count(const wchar_t* className, bool liveOnly) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  uint32_t count = 0;
  for (EngineObject* object : table.objects)
    if (SameClass(object, className) && (!liveOnly || object->Live())) ++count;
  return count;
}

EngineObject* Find(const wchar_t* className, uint32_t instance) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (EngineObject* object : table.objects)
    if (SameClass(object, className) && object->Instance() == instance) return object;
  return nullptr;
}

EngineObject* NewestLive(const wchar_t* className) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (auto it = table.objects.rbegin(); it != table.objects.rend(); ++it)
    if (SameClass(*it, className) && (*it)->Live()) return *it;
  return nullptr;
}

void Reset() {
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects.clear();
}

}  // namespace object_table
