#include "headless_host/kit/identifiers.h"

NPIdentifier IdentifierTable::String(const std::string& name) {
  auto& slot = strings_[name];
  if (!slot) {
    slot.reset(new Entry{true, name, 0});
    all_.insert(slot.get());
  }
  return slot.get();
}

NPIdentifier IdentifierTable::Int(int32_t value) {
  auto& slot = numbers_[value];
  if (!slot) {
    slot.reset(new Entry{false, std::string(), value});
    all_.insert(slot.get());
  }
  return slot.get();
}

bool IdentifierTable::IsString(NPIdentifier id) const {
  return Known(id) && static_cast<const Entry*>(id)->isString;
}

const std::string* IdentifierTable::Name(NPIdentifier id) const {
  if (!IsString(id)) return nullptr;
  return &static_cast<const Entry*>(id)->name;
}

bool IdentifierTable::Number(NPIdentifier id, int32_t* value) const {
  if (!Known(id) || static_cast<const Entry*>(id)->isString) return false;
  *value = static_cast<const Entry*>(id)->number;
  return true;
}
