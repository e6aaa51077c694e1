#include "plugin/host.h"

#include <cstddef>

namespace {

NPNetscapeFuncs* hostFunctions = nullptr;

// The entry exists only if the browser's table is long enough to hold it.
template <typename Member>
Member Entry(Member NPNetscapeFuncs::*member, std::size_t offset) {
  if (hostFunctions == nullptr) return nullptr;
  if (hostFunctions->size != 0 && hostFunctions->size < offset + sizeof(Member)) return nullptr;
  return hostFunctions->*member;
}

#define HOST_ENTRY(name) Entry(&NPNetscapeFuncs::name, offsetof(NPNetscapeFuncs, name))

}  // namespace

void SetHostFunctions(NPNetscapeFuncs* table) { hostFunctions = table; }

NPError NPN_SetValue(NPP instance, NPPVariable variable, void* value) {
  auto f = HOST_ENTRY(setvalue);
  return f ? f(instance, variable, value) : NPERR_GENERIC_ERROR;
}

NPObject* NPN_CreateObject(NPP npp, NPClass* aClass) {
  auto f = HOST_ENTRY(createobject);
  return f ? f(npp, aClass) : nullptr;
}

NPObject* NPN_RetainObject(NPObject* obj) {
  auto f = HOST_ENTRY(retainobject);
  return f ? f(obj) : obj;
}

void NPN_ReleaseObject(NPObject* obj) {
  if (auto f = HOST_ENTRY(releaseobject)) f(obj);
}

NPUTF8* NPN_UTF8FromIdentifier(NPIdentifier identifier) {
  auto f = HOST_ENTRY(utf8fromidentifier);
  return f ? f(identifier) : nullptr;
}

void NPN_MemFree(void* ptr) {
  if (auto f = HOST_ENTRY(memfree)) f(ptr);
}

void* NPN_MemAlloc(uint32_t size) {
  auto f = HOST_ENTRY(memalloc);
  return f ? f(size) : nullptr;
}

NPError NPN_GetURL(NPP instance, const char* url, const char* window) {
  auto f = HOST_ENTRY(geturl);
  return f ? f(instance, url, window) : NPERR_GENERIC_ERROR;
}

bool NPN_InvokeDefault(NPP npp, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  auto f = HOST_ENTRY(invokeDefault);
  return f ? f(npp, obj, args, argCount, result) : false;
}

void NPN_ReleaseVariantValue(NPVariant* variant) {
  if (auto f = HOST_ENTRY(releasevariantvalue)) f(variant);
}

NPError NPN_GetValue(NPP instance, NPNVariable variable, void* value) {
  auto f = HOST_ENTRY(getvalue);
  return f ? f(instance, variable, value) : NPERR_GENERIC_ERROR;
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) {
  auto f = HOST_ENTRY(getstringidentifier);
  return f ? f(name) : nullptr;
}

bool NPN_GetProperty(NPP npp, NPObject* obj, NPIdentifier propertyName, NPVariant* result) {
  VOID_TO_NPVARIANT(*result);
  auto f = HOST_ENTRY(getproperty);
  if (f == nullptr || !f(npp, obj, propertyName, result)) {
    // A failed call owns nothing: whatever it left there is not the caller's to release.
    VOID_TO_NPVARIANT(*result);
    return false;
  }
  return true;
}
