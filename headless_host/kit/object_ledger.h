// Every live NPObject the host knows of, the plug-in's and the page's, with
// the instance it belongs to. Reference counts follow NPAPI: an object made
// by NPN_CreateObject starts at 1 and is deallocated through its class when
// the count reaches 0. At NPP_Destroy the instance's remaining objects are
// invalidated and then deallocated whatever their count, as one browser does,
// so nothing of a destroyed instance is ever called again.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "npapi/npruntime.h"

class ObjectLedger {
 public:
  enum class Release { Dropped, Deallocated, Dead, NoReference };

  // Allocates through the class (or plain memory when it has no allocate),
  // sets class and count 1; null when allocation fails.
  NPObject* Create(NPP owner, NPClass* objectClass);
  bool Live(const NPObject* object) const { return entries_.count(const_cast<NPObject*>(object)) != 0; }
  bool Retain(NPObject* object);
  Release ReleaseObject(NPObject* object);
  // The count of a live object; 0 for one that is not on the ledger.
  uint32_t ReferenceCount(const NPObject* object) const { return Live(object) ? object->referenceCount : 0; }

  // Invalidates, then deallocates, one object whatever its count; false when it is not live.
  bool ForceDeallocate(NPObject* object);

  // Invalidates, then deallocates, every object of the instance; how many there were.
  std::size_t ForceDeallocate(NPP owner);

  uint64_t Id(const NPObject* object) const;
  NPObject* Find(uint64_t id) const;
  std::size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    NPP owner;
    uint64_t id;
  };
  void Deallocate(NPObject* object);

  std::map<NPObject*, Entry> entries_;
  std::map<uint64_t, NPObject*> byId_;
  uint64_t nextId_ = 1;
};
