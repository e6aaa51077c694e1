#include "headless_host/kit/object_ledger.h"

#include <cstdlib>

NPObject* ObjectLedger::Create(NPP owner, NPClass* objectClass) {
  if (objectClass == nullptr) return nullptr;
  NPObject* object = objectClass->allocate != nullptr
                         ? objectClass->allocate(owner, objectClass)
                         : static_cast<NPObject*>(std::calloc(1, sizeof(NPObject)));
  if (object == nullptr) return nullptr;
  object->_class = objectClass;
  object->referenceCount = 1;
  uint64_t id = nextId_++;
  entries_[object] = Entry{owner, id};
  byId_[id] = object;
  return object;
}

bool ObjectLedger::Retain(NPObject* object) {
  if (!Live(object)) return false;
  ++object->referenceCount;
  return true;
}

ObjectLedger::Release ObjectLedger::ReleaseObject(NPObject* object) {
  if (!Live(object)) return Release::Dead;
  if (object->referenceCount == 0) return Release::NoReference;
  if (--object->referenceCount != 0) return Release::Dropped;
  Deallocate(object);
  return Release::Deallocated;
}

void ObjectLedger::Deallocate(NPObject* object) {
  auto found = entries_.find(object);
  if (found == entries_.end()) return;
  byId_.erase(found->second.id);
  entries_.erase(found);
  // Off the ledger first: the class's deallocate may release other objects.
  NPClass* objectClass = object->_class;
  if (objectClass != nullptr && objectClass->deallocate != nullptr)
    objectClass->deallocate(object);
  else
    std::free(object);
}

bool ObjectLedger::ForceDeallocate(NPObject* object) {
  if (!Live(object)) return false;
  NPClass* objectClass = object->_class;
  if (objectClass != nullptr && objectClass->invalidate != nullptr) objectClass->invalidate(object);
  // The invalidate may already have let the last reference go.
  if (Live(object)) Deallocate(object);
  return true;
}

std::size_t ObjectLedger::ForceDeallocate(NPP owner) {
  std::vector<NPObject*> owned;
  for (const auto& entry : entries_)
    if (entry.second.owner == owner) owned.push_back(entry.first);
  // All are invalidated before any is freed: an invalidate may still reach
  // another object of the same instance.
  for (NPObject* object : owned) {
    if (!Live(object)) continue;
    NPClass* objectClass = object->_class;
    if (objectClass != nullptr && objectClass->invalidate != nullptr) objectClass->invalidate(object);
  }
  std::size_t forced = 0;
  for (NPObject* object : owned) {
    if (!Live(object)) continue;
    Deallocate(object);
    ++forced;
  }
  return forced;
}

uint64_t ObjectLedger::Id(const NPObject* object) const {
  auto found = entries_.find(const_cast<NPObject*>(object));
  return found != entries_.end() ? found->second.id : 0;
}

NPObject* ObjectLedger::Find(uint64_t id) const {
  auto found = byId_.find(id);
  return found != byId_.end() ? found->second : nullptr;
}
