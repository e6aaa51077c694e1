#include "headless_host/window_object.h"

#include <cstring>

namespace {

IdentifierTable* identifiers = nullptr;
MemoryLedger* memory = nullptr;
ObjectLedger* objects = nullptr;

struct LocationObject : NPObject {
  std::string href;
};

struct WindowObject : NPObject {
  NPObject* location = nullptr;  // one reference, the window's own
};

bool IsName(NPIdentifier id, const char* wanted) {
  const std::string* name = identifiers->Name(id);
  return name != nullptr && *name == wanted;
}

bool No(NPObject*, NPIdentifier) { return false; }
bool NoInvoke(NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant*) { return false; }
bool NoInvokeDefault(NPObject*, const NPVariant*, uint32_t, NPVariant*) { return false; }
// Setting "location" would navigate: the host has no page to navigate.
bool NoSet(NPObject*, NPIdentifier, const NPVariant*) { return false; }
bool NoEnumerate(NPObject*, NPIdentifier**, uint32_t*) { return false; }
bool NoConstruct(NPObject*, const NPVariant*, uint32_t, NPVariant*) { return false; }

// ---- location ------------------------------------------------------------------

NPObject* AllocateLocation(NPP, NPClass*) { return new LocationObject(); }

void DeallocateLocation(NPObject* object) { delete static_cast<LocationObject*>(object); }

bool LocationHasProperty(NPObject*, NPIdentifier name) { return IsName(name, "href"); }

bool LocationGetProperty(NPObject* object, NPIdentifier name, NPVariant* result) {
  if (!IsName(name, "href")) return false;
  const std::string& href = static_cast<LocationObject*>(object)->href;
  // Host memory, as every string result: NPN_ReleaseVariantValue gives it back.
  auto* text = static_cast<NPUTF8*>(memory->Allocate(static_cast<uint32_t>(href.size() + 1)));
  if (text == nullptr) return false;
  std::memcpy(text, href.c_str(), href.size() + 1);
  STRINGN_TO_NPVARIANT(text, static_cast<uint32_t>(href.size()), *result);
  return true;
}

NPClass locationClass = {NP_CLASS_STRUCT_VERSION_CTOR, AllocateLocation, DeallocateLocation, nullptr,
                         No, NoInvoke, NoInvokeDefault, LocationHasProperty, LocationGetProperty,
                         NoSet, No, NoEnumerate, NoConstruct};

// ---- window --------------------------------------------------------------------

NPObject* AllocateWindow(NPP, NPClass*) { return new WindowObject(); }

void DropLocation(WindowObject* window) {
  NPObject* location = window->location;
  window->location = nullptr;
  // At an instance's end the ledger may have taken the location already.
  if (location != nullptr && objects->Live(location)) objects->ReleaseObject(location);
}

void InvalidateWindow(NPObject* object) { DropLocation(static_cast<WindowObject*>(object)); }

void DeallocateWindow(NPObject* object) {
  auto* window = static_cast<WindowObject*>(object);
  DropLocation(window);
  delete window;
}

bool WindowHasProperty(NPObject*, NPIdentifier name) { return IsName(name, "location"); }

bool WindowGetProperty(NPObject* object, NPIdentifier name, NPVariant* result) {
  auto* window = static_cast<WindowObject*>(object);
  if (!IsName(name, "location") || window->location == nullptr || !objects->Retain(window->location)) return false;
  // The caller's reference, released with NPN_ReleaseVariantValue.
  OBJECT_TO_NPVARIANT(window->location, *result);
  return true;
}

NPClass windowClass = {NP_CLASS_STRUCT_VERSION_CTOR, AllocateWindow, DeallocateWindow, InvalidateWindow,
                       No, NoInvoke, NoInvokeDefault, WindowHasProperty, WindowGetProperty,
                       NoSet, No, NoEnumerate, NoConstruct};

}  // namespace

void SetWindowObjectTables(IdentifierTable* identifierTable, MemoryLedger* memoryLedger, ObjectLedger* objectLedger) {
  identifiers = identifierTable;
  memory = memoryLedger;
  objects = objectLedger;
}

NPObject* CreateWindowObject(NPP owner, const std::string& href) {
  auto* location = static_cast<LocationObject*>(objects->Create(owner, &locationClass));
  if (location == nullptr) return nullptr;
  location->href = href;
  auto* window = static_cast<WindowObject*>(objects->Create(owner, &windowClass));
  if (window == nullptr) {
    objects->ReleaseObject(location);
    return nullptr;
  }
  window->location = location;
  return window;
}
