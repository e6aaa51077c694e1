#include "headless_host/page_object.h"

namespace {

PageObjectListener* listener = nullptr;

NPObject* Allocate(NPP, NPClass*) { return new PageObject(); }

void Deallocate(NPObject* object) {
  auto* page = static_cast<PageObject*>(object);
  if (listener != nullptr) listener->PageObjectReleased(page);
  delete page;
}

bool InvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  auto* page = static_cast<PageObject*>(object);
  if (!page->callable || listener == nullptr) return false;
  return listener->PageFunctionCalled(page, args, argCount, result);
}

// Page objects offer no methods or properties of their own to the plug-in.
bool No(NPObject*, NPIdentifier) { return false; }
bool NoInvoke(NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant*) { return false; }
bool NoGet(NPObject*, NPIdentifier, NPVariant*) { return false; }
bool NoSet(NPObject*, NPIdentifier, const NPVariant*) { return false; }
bool NoEnumerate(NPObject*, NPIdentifier**, uint32_t*) { return false; }
bool NoConstruct(NPObject*, const NPVariant*, uint32_t, NPVariant*) { return false; }

NPClass pageObjectClass = {NP_CLASS_STRUCT_VERSION_CTOR, Allocate, Deallocate, nullptr, No, NoInvoke,
                           InvokeDefault, No, NoGet, NoSet, No, NoEnumerate, NoConstruct};

}  // namespace

void SetPageObjectListener(PageObjectListener* newListener) { listener = newListener; }

NPClass* PageObjectClass() { return &pageObjectClass; }
