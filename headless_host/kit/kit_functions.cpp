#include "headless_host/kit/kit_functions.h"

#include <cstring>
#include <string>
#include <vector>

#include "headless_host/kit/call_text.h"
#include "headless_host/kit/host_kit.h"

namespace {

using Args = std::vector<std::string>;

// The host serving the call, or null when the call is refused.
template <typename MakeArgs>
HostKit* Enter(const char* function, MakeArgs makeArgs) {
  HostKit* host = HostKit::Current();
  return host != nullptr && host->Enter(function, makeArgs) ? host : nullptr;
}

std::string IdentifierText(HostKit* host, NPIdentifier id) {
  int32_t number = 0;
  if (const std::string* name = host->Identifiers().Name(id)) return *name;
  if (host->Identifiers().Number(id, &number)) return std::to_string(number);
  return "(null)";
}

NPIdentifier StringIdentifier(HostKit* host, const NPUTF8* name) {
  if (name == nullptr || !host->GivesIdentifier(name)) return nullptr;
  return host->Identifiers().String(name);
}

// The start of a call into an object by name: the host serving it, or null
// when it is refused or names an object or identifier the host does not know.
HostKit* EnterNamed(const char* function, NPP npp, NPObject* object, NPIdentifier name) {
  HostKit* host = Enter(function, [&] {
    return Args{PointerText(npp), PointerText(object), IdentifierText(HostKit::Current(), name)};
  });
  if (host == nullptr || !host->LiveObject(object, function) || !host->KnownIdentifier(name, function)) return nullptr;
  return host;
}

void* NPN_MemAlloc(uint32_t size) {
  HostKit* host = Enter(__func__, [&] { return Args{std::to_string(size)}; });
  if (host == nullptr || !host->MayAllocate(size)) return nullptr;
  return host->Memory().Allocate(size);
}

void NPN_MemFree(void* block) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(block)}; });
  if (host == nullptr || block == nullptr) return;
  if (!host->Memory().Free(block))
    host->Fault("NPN_MemFree of memory the host never gave or already took back: " + PointerText(block));
}

uint32_t NPN_MemFlush(uint32_t size) {
  Enter(__func__, [&] { return Args{std::to_string(size)}; });
  return 0;
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) {
  HostKit* host = Enter(__func__, [&] { return Args{OptionalText(name)}; });
  return host != nullptr ? StringIdentifier(host, name) : nullptr;
}

void NPN_GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* identifiers) {
  HostKit* host = Enter(__func__, [&] { return Args{std::to_string(count)}; });
  if (host == nullptr || names == nullptr || identifiers == nullptr) return;
  for (int32_t i = 0; i < count; ++i) identifiers[i] = StringIdentifier(host, names[i]);
}

NPIdentifier NPN_GetIntIdentifier(int32_t value) {
  HostKit* host = Enter(__func__, [&] { return Args{std::to_string(value)}; });
  return host != nullptr ? host->Identifiers().Int(value) : nullptr;
}

bool NPN_IdentifierIsString(NPIdentifier id) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(id)}; });
  if (host == nullptr || !host->KnownIdentifier(id, __func__)) return false;
  return host->Identifiers().IsString(id);
}

NPUTF8* NPN_UTF8FromIdentifier(NPIdentifier id) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(id)}; });
  if (host == nullptr || !host->KnownIdentifier(id, __func__)) return nullptr;
  const std::string* name = host->Identifiers().Name(id);
  return name != nullptr ? host->CopyToHostMemory(*name) : nullptr;
}

int32_t NPN_IntFromIdentifier(NPIdentifier id) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(id)}; });
  int32_t value = 0;
  if (host != nullptr && host->KnownIdentifier(id, __func__)) host->Identifiers().Number(id, &value);
  return value;
}

NPObject* NPN_CreateObject(NPP npp, NPClass* objectClass) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(npp), PointerText(objectClass)}; });
  if (host == nullptr || !host->MayCreateObject(npp)) return nullptr;
  return host->Objects().Create(npp, objectClass);
}

NPObject* NPN_RetainObject(NPObject* object) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(object)}; });
  return host != nullptr ? host->RetainObject(object, __func__) : object;
}

void NPN_ReleaseObject(NPObject* object) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(object)}; });
  if (host != nullptr) host->ReleaseObject(object, __func__);
}

// The calls into an object: made only on a live one, with identifiers the host gave.
bool NPN_Invoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                NPVariant* result) {
  HostKit* host = Enter(__func__, [&] {
    return Args{PointerText(npp), PointerText(object), IdentifierText(HostKit::Current(), name),
                std::to_string(argCount)};
  });
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (host == nullptr || !host->LiveObject(object, __func__) || !host->KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->invoke == nullptr) return false;
  return object->_class->invoke(object, name, args, argCount, result);
}

bool NPN_InvokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  HostKit* host = Enter(__func__, [&] {
    Args described{PointerText(npp), PointerText(object), std::to_string(argCount)};
    for (uint32_t i = 0; args != nullptr && i < argCount; ++i) described.push_back(VariantText(args[i]));
    return described;
  });
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (host == nullptr || !host->LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->invokeDefault == nullptr) return false;
  return object->_class->invokeDefault(object, args, argCount, result);
}

bool NPN_GetProperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result) {
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  HostKit* host = EnterNamed(__func__, npp, object, name);
  if (host == nullptr || object->_class == nullptr || object->_class->getProperty == nullptr) return false;
  return object->_class->getProperty(object, name, result);
}

bool NPN_SetProperty(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* value) {
  HostKit* host = EnterNamed(__func__, npp, object, name);
  if (host == nullptr || object->_class == nullptr || object->_class->setProperty == nullptr) return false;
  return object->_class->setProperty(object, name, value);
}

bool NPN_RemoveProperty(NPP npp, NPObject* object, NPIdentifier name) {
  HostKit* host = EnterNamed(__func__, npp, object, name);
  if (host == nullptr || object->_class == nullptr || object->_class->removeProperty == nullptr) return false;
  return object->_class->removeProperty(object, name);
}

bool NPN_HasProperty(NPP npp, NPObject* object, NPIdentifier name) {
  HostKit* host = EnterNamed(__func__, npp, object, name);
  if (host == nullptr || object->_class == nullptr || object->_class->hasProperty == nullptr) return false;
  return object->_class->hasProperty(object, name);
}

bool NPN_HasMethod(NPP npp, NPObject* object, NPIdentifier name) {
  HostKit* host = EnterNamed(__func__, npp, object, name);
  if (host == nullptr || object->_class == nullptr || object->_class->hasMethod == nullptr) return false;
  return object->_class->hasMethod(object, name);
}

bool NPN_Enumerate(NPP npp, NPObject* object, NPIdentifier** identifiers, uint32_t* count) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(npp), PointerText(object)}; });
  if (host == nullptr || !host->LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_ENUM ||
      object->_class->enumerate == nullptr)
    return false;
  return object->_class->enumerate(object, identifiers, count);
}

bool NPN_Construct(NPP npp, NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  HostKit* host = Enter(__func__, [&] { return Args{PointerText(npp), PointerText(object), std::to_string(argCount)}; });
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (host == nullptr || !host->LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_CTOR ||
      object->_class->construct == nullptr)
    return false;
  return object->_class->construct(object, args, argCount, result);
}

void NPN_ReleaseVariantValue(NPVariant* variant) {
  HostKit* host = Enter(__func__, [&] { return Args{variant != nullptr ? VariantText(*variant) : "(null)"}; });
  if (host != nullptr && variant != nullptr) ReleaseVariantContents(variant);
}

}  // namespace

void ReleaseVariantContents(NPVariant* variant) {
  HostKit* host = HostKit::Current();
  if (host == nullptr || variant == nullptr) return;
  if (variant->type == NPVariantType_String) {
    void* characters = const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters);
    if (characters != nullptr) NPN_MemFree(characters);
  } else if (variant->type == NPVariantType_Object) {
    host->ReleaseObject(variant->value.objectValue, "NPN_ReleaseObject");
  }
  VOID_TO_NPVARIANT(*variant);
}

void FillKitFunctions(NPNetscapeFuncs* table) {
  std::memset(table, 0, sizeof *table);
  table->size = sizeof *table;
  table->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  table->memalloc = NPN_MemAlloc;
  table->memfree = NPN_MemFree;
  table->memflush = NPN_MemFlush;
  table->getstringidentifier = NPN_GetStringIdentifier;
  table->getstringidentifiers = NPN_GetStringIdentifiers;
  table->getintidentifier = NPN_GetIntIdentifier;
  table->identifierisstring = NPN_IdentifierIsString;
  table->utf8fromidentifier = NPN_UTF8FromIdentifier;
  table->intfromidentifier = NPN_IntFromIdentifier;
  table->createobject = NPN_CreateObject;
  table->retainobject = NPN_RetainObject;
  table->releaseobject = NPN_ReleaseObject;
  table->invoke = NPN_Invoke;
  table->invokeDefault = NPN_InvokeDefault;
  table->getproperty = NPN_GetProperty;
  table->setproperty = NPN_SetProperty;
  table->removeproperty = NPN_RemoveProperty;
  table->hasproperty = NPN_HasProperty;
  table->hasmethod = NPN_HasMethod;
  table->enumerate = NPN_Enumerate;
  table->construct = NPN_Construct;
  table->releasevariantvalue = NPN_ReleaseVariantValue;
}
