// The browser's host function table, kept from NP_Initialize for the module's
// whole life, and the host functions the module calls through it. Each wrapper
// answers a harmless failure when the table or its entry is missing, so a
// short or absent table never becomes a call through a null pointer.
#pragma once

#include "npapi/npfunctions.h"

void SetHostFunctions(NPNetscapeFuncs* table);

NPError NPN_SetValue(NPP instance, NPPVariable variable, void* value);
NPObject* NPN_CreateObject(NPP npp, NPClass* aClass);
NPObject* NPN_RetainObject(NPObject* obj);
void NPN_ReleaseObject(NPObject* obj);
NPUTF8* NPN_UTF8FromIdentifier(NPIdentifier identifier);
void NPN_MemFree(void* ptr);
void* NPN_MemAlloc(uint32_t size);
NPError NPN_GetURL(NPP instance, const char* url, const char* window);
bool NPN_InvokeDefault(NPP npp, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result);
void NPN_ReleaseVariantValue(NPVariant* variant);
NPError NPN_GetValue(NPP instance, NPNVariable variable, void* value);
NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name);
// Leaves `result` void when the host has no such entry or the call fails.
bool NPN_GetProperty(NPP npp, NPObject* obj, NPIdentifier propertyName, NPVariant* result);
