#include "headless_host/host_functions.h"

#include <cstring>
#include <string>

#include "headless_host/host.h"

namespace {

HeadlessHost& Host() { return HeadlessHost::Get(); }

const char kUserAgent[] = "HalvoHeadlessHost/1.0 (Windows NT 6.1)";

#define ON_PLUGIN_THREAD(refusal)                   \
  do {                                              \
    if (!Host().OnPluginThread(__func__)) return refusal; \
  } while (0)
#define ON_PLUGIN_THREAD_VOID()                     \
  do {                                              \
    if (!Host().OnPluginThread(__func__)) return;   \
  } while (0)

// An object the plug-in names must be one the host has on its ledger.
bool LiveObject(NPObject* object, const char* function) {
  if (object != nullptr && Host().Objects().Live(object)) return true;
  Host().Fault(std::string(function) + " on an object that is not live");
  return false;
}

bool KnownIdentifier(NPIdentifier id, const char* function) {
  if (Host().Identifiers().Known(id)) return true;
  Host().Fault(std::string(function) + " with an identifier the host never gave");
  return false;
}

NPError NPN_GetURL(NPP instance, const char* url, const char* window) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Element* element = Host().ElementOf(instance);
  if (element == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  if (url == nullptr) return NPERR_INVALID_URL;
  return Host().GetURL(element, url, window);
}

NPError NPN_PostURL(NPP, const char*, const char*, uint32_t, const char*, NPBool) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_RequestRead(NPStream*, NPByteRange*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_NewStream(NPP, NPMIMEType, const char*, NPStream** stream) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  if (stream != nullptr) *stream = nullptr;
  return NPERR_GENERIC_ERROR;
}

int32_t NPN_Write(NPP, NPStream*, int32_t, void*) {
  ON_PLUGIN_THREAD(-1);
  Host().Unsupported(__func__);
  return -1;
}

NPError NPN_DestroyStream(NPP, NPStream*, NPReason) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

void NPN_Status(NPP instance, const char* message) {
  ON_PLUGIN_THREAD_VOID();
  if (Element* element = Host().ElementOf(instance)) Host().Status(element, message != nullptr ? message : "");
}

const char* NPN_UserAgent(NPP) {
  ON_PLUGIN_THREAD(nullptr);
  return kUserAgent;
}

void* NPN_MemAlloc(uint32_t size) {
  ON_PLUGIN_THREAD(nullptr);
  return Host().Memory().Allocate(size);
}

void NPN_MemFree(void* block) {
  ON_PLUGIN_THREAD_VOID();
  if (block == nullptr) return;
  if (!Host().Memory().Free(block)) Host().Fault("NPN_MemFree of memory the host never gave or already took back");
}

uint32_t NPN_MemFlush(uint32_t) {
  ON_PLUGIN_THREAD(0);
  return 0;
}

void NPN_ReloadPlugins(NPBool) { ON_PLUGIN_THREAD_VOID(); }

void* NPN_GetJavaEnv() {
  ON_PLUGIN_THREAD(nullptr);
  return nullptr;
}

void* NPN_GetJavaPeer(NPP) {
  ON_PLUGIN_THREAD(nullptr);
  return nullptr;
}

NPError NPN_GetURLNotify(NPP, const char*, const char*, void*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_PostURLNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_GetValue(NPP instance, NPNVariable variable, void* value) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  if (value == nullptr) return NPERR_INVALID_PARAM;
  switch (variable) {
    case NPNVjavascriptEnabledBool:
      *static_cast<NPBool*>(value) = true;
      return NPERR_NO_ERROR;
    case NPNVasdEnabledBool:
    case NPNVisOfflineBool:
    case NPNVSupportsWindowless:
    case NPNVprivateModeBool:
    case NPNVsupportsAdvancedKeyHandling:
      *static_cast<NPBool*>(value) = false;
      return NPERR_NO_ERROR;
    case NPNVnetscapeWindow: {
      if (Host().ElementOf(instance) == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
      *static_cast<HWND*>(value) = Host().PageWindow();
      return NPERR_NO_ERROR;
    }
    case NPNVWindowNPObject: {
      // As browsers answer it: a reference of the caller's, to be released with NPN_ReleaseObject.
      Element* element = Host().ElementOf(instance);
      if (element == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
      NPObject* window = Host().WindowObjectOf(element);
      if (window == nullptr || !Host().Objects().Retain(window)) return NPERR_OUT_OF_MEMORY_ERROR;
      *static_cast<NPObject**>(value) = window;
      return NPERR_NO_ERROR;
    }
    default:
      // The element's own DOM object lives in the page, out of the host's reach.
      Host().Unsupported("NPN_GetValue for this variable");
      return NPERR_GENERIC_ERROR;
  }
}

NPError NPN_SetValue(NPP instance, NPPVariable variable, void* value) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Element* element = Host().ElementOf(instance);
  if (element == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
  switch (variable) {
    case NPPVpluginWindowBool:
      element->windowed = value != nullptr;
      return NPERR_NO_ERROR;
    case NPPVpluginTransparentBool:
    case NPPVjavascriptPushCallerBool:
    case NPPVpluginKeepLibraryInMemory:
    case NPPVpluginUrlRequestsDisplayedBool:
    case NPPVpluginUsesDOMForCursorBool:
      return NPERR_NO_ERROR;
    default:
      return NPERR_GENERIC_ERROR;
  }
}

void NPN_InvalidateRect(NPP instance, NPRect*) {
  ON_PLUGIN_THREAD_VOID();
  if (Element* element = Host().ElementOf(instance))
    if (element->Window() != nullptr) InvalidateRect(element->Window(), nullptr, FALSE);
}

void NPN_InvalidateRegion(NPP instance, NPRegion) { NPN_InvalidateRect(instance, nullptr); }

void NPN_ForceRedraw(NPP instance) {
  ON_PLUGIN_THREAD_VOID();
  if (Element* element = Host().ElementOf(instance))
    if (element->Window() != nullptr) UpdateWindow(element->Window());
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) {
  ON_PLUGIN_THREAD(nullptr);
  if (name == nullptr) return nullptr;
  return Host().Identifiers().String(name);
}

void NPN_GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* identifiers) {
  ON_PLUGIN_THREAD_VOID();
  if (names == nullptr || identifiers == nullptr) return;
  for (int32_t i = 0; i < count; ++i)
    identifiers[i] = names[i] != nullptr ? Host().Identifiers().String(names[i]) : nullptr;
}

NPIdentifier NPN_GetIntIdentifier(int32_t value) {
  ON_PLUGIN_THREAD(nullptr);
  return Host().Identifiers().Int(value);
}

bool NPN_IdentifierIsString(NPIdentifier id) {
  ON_PLUGIN_THREAD(false);
  if (!KnownIdentifier(id, __func__)) return false;
  return Host().Identifiers().IsString(id);
}

NPUTF8* NPN_UTF8FromIdentifier(NPIdentifier id) {
  ON_PLUGIN_THREAD(nullptr);
  if (!KnownIdentifier(id, __func__)) return nullptr;
  const std::string* name = Host().Identifiers().Name(id);
  if (name == nullptr) return nullptr;
  auto* text = static_cast<NPUTF8*>(Host().Memory().Allocate(static_cast<uint32_t>(name->size() + 1)));
  if (text != nullptr) std::memcpy(text, name->c_str(), name->size() + 1);
  return text;
}

int32_t NPN_IntFromIdentifier(NPIdentifier id) {
  ON_PLUGIN_THREAD(0);
  int32_t value = 0;
  if (KnownIdentifier(id, __func__)) Host().Identifiers().Number(id, &value);
  return value;
}

NPObject* NPN_CreateObject(NPP npp, NPClass* objectClass) {
  ON_PLUGIN_THREAD(nullptr);
  if (Host().ElementOf(npp) == nullptr) {
    Host().Fault("NPN_CreateObject for an instance that is not live");
    return nullptr;
  }
  return Host().Objects().Create(npp, objectClass);
}

NPObject* NPN_RetainObject(NPObject* object) {
  ON_PLUGIN_THREAD(object);
  if (LiveObject(object, __func__)) Host().Objects().Retain(object);
  return object;
}

void NPN_ReleaseObject(NPObject* object) {
  ON_PLUGIN_THREAD_VOID();
  if (!LiveObject(object, __func__)) return;
  if (Host().Objects().ReleaseObject(object) == ObjectLedger::Release::NoReference)
    Host().Fault("NPN_ReleaseObject of an object without a reference");
}

bool NPN_Invoke(NPP, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->invoke == nullptr) return false;
  return object->_class->invoke(object, name, args, argCount, result);
}

bool NPN_InvokeDefault(NPP, NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (!LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->invokeDefault == nullptr) return false;
  return object->_class->invokeDefault(object, args, argCount, result);
}

bool NPN_Evaluate(NPP, NPObject*, NPString*, NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  // Page script runs in the page, which answers asynchronously: no synchronous evaluation.
  Host().Unsupported(__func__);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  return false;
}

bool NPN_GetProperty(NPP, NPObject* object, NPIdentifier name, NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->getProperty == nullptr) return false;
  return object->_class->getProperty(object, name, result);
}

bool NPN_SetProperty(NPP, NPObject* object, NPIdentifier name, const NPVariant* value) {
  ON_PLUGIN_THREAD(false);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->setProperty == nullptr) return false;
  return object->_class->setProperty(object, name, value);
}

bool NPN_RemoveProperty(NPP, NPObject* object, NPIdentifier name) {
  ON_PLUGIN_THREAD(false);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->removeProperty == nullptr) return false;
  return object->_class->removeProperty(object, name);
}

bool NPN_HasProperty(NPP, NPObject* object, NPIdentifier name) {
  ON_PLUGIN_THREAD(false);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->hasProperty == nullptr) return false;
  return object->_class->hasProperty(object, name);
}

bool NPN_HasMethod(NPP, NPObject* object, NPIdentifier name) {
  ON_PLUGIN_THREAD(false);
  if (!LiveObject(object, __func__) || !KnownIdentifier(name, __func__)) return false;
  if (object->_class == nullptr || object->_class->hasMethod == nullptr) return false;
  return object->_class->hasMethod(object, name);
}

void NPN_ReleaseVariantValue(NPVariant* variant) {
  ON_PLUGIN_THREAD_VOID();
  if (variant == nullptr) return;
  if (variant->type == NPVariantType_String) {
    void* characters = const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters);
    if (characters != nullptr && !Host().Memory().Free(characters))
      Host().Fault("NPN_ReleaseVariantValue of a string that is not in host memory");
  } else if (variant->type == NPVariantType_Object) {
    NPN_ReleaseObject(variant->value.objectValue);
  }
  VOID_TO_NPVARIANT(*variant);
}

void NPN_SetException(NPObject*, const NPUTF8* message) {
  ON_PLUGIN_THREAD_VOID();
  Host().SetException(message != nullptr ? message : "");
}

void NPN_PushPopupsEnabledState(NPP, NPBool) { ON_PLUGIN_THREAD_VOID(); }

void NPN_PopPopupsEnabledState(NPP) { ON_PLUGIN_THREAD_VOID(); }

bool NPN_Enumerate(NPP, NPObject* object, NPIdentifier** identifiers, uint32_t* count) {
  ON_PLUGIN_THREAD(false);
  if (!LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_ENUM ||
      object->_class->enumerate == nullptr)
    return false;
  return object->_class->enumerate(object, identifiers, count);
}

void NPN_PluginThreadAsyncCall(NPP instance, void (*function)(void*), void* data) {
  // The one host function made for other threads.
  if (function != nullptr) Host().CallOnPluginThread(instance, function, data);
}

bool NPN_Construct(NPP, NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  if (!LiveObject(object, __func__)) return false;
  if (object->_class == nullptr || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_CTOR ||
      object->_class->construct == nullptr)
    return false;
  return object->_class->construct(object, args, argCount, result);
}

NPError NPN_GetValueForURL(NPP, NPNURLVariable, const char*, char**, uint32_t*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_SetValueForURL(NPP, NPNURLVariable, const char*, const char*, uint32_t) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_GetAuthenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*, char**,
                                  uint32_t*, char**, uint32_t*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

uint32_t NPN_ScheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
  ON_PLUGIN_THREAD(0);
  Host().Unsupported(__func__);
  return 0;
}

void NPN_UnscheduleTimer(NPP, uint32_t) { ON_PLUGIN_THREAD_VOID(); }

NPError NPN_PopUpContextMenu(NPP, NPMenu*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPBool NPN_ConvertPoint(NPP, double, double, NPCoordinateSpace, double*, double*, NPCoordinateSpace) {
  ON_PLUGIN_THREAD(false);
  Host().Unsupported(__func__);
  return false;
}

NPBool NPN_HandleEvent(NPP, void*, NPBool) {
  ON_PLUGIN_THREAD(false);
  return false;
}

NPBool NPN_UnfocusInstance(NPP, NPFocusDirection) {
  ON_PLUGIN_THREAD(false);
  return false;
}

void NPN_URLRedirectResponse(NPP, void*, NPBool) { ON_PLUGIN_THREAD_VOID(); }

NPError NPN_InitAsyncSurface(NPP, NPSize*, NPImageFormat, void*, NPAsyncSurface*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  Host().Unsupported(__func__);
  return NPERR_GENERIC_ERROR;
}

NPError NPN_FinalizeAsyncSurface(NPP, NPAsyncSurface*) {
  ON_PLUGIN_THREAD(NPERR_GENERIC_ERROR);
  return NPERR_GENERIC_ERROR;
}

void NPN_SetCurrentAsyncSurface(NPP, NPAsyncSurface*, NPRect*) { ON_PLUGIN_THREAD_VOID(); }

}  // namespace

void FillHostFunctions(NPNetscapeFuncs* table) {
  std::memset(table, 0, sizeof *table);
  table->size = sizeof *table;
  table->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  table->geturl = NPN_GetURL;
  table->posturl = NPN_PostURL;
  table->requestread = NPN_RequestRead;
  table->newstream = NPN_NewStream;
  table->write = NPN_Write;
  table->destroystream = NPN_DestroyStream;
  table->status = NPN_Status;
  table->uagent = NPN_UserAgent;
  table->memalloc = NPN_MemAlloc;
  table->memfree = NPN_MemFree;
  table->memflush = NPN_MemFlush;
  table->reloadplugins = NPN_ReloadPlugins;
  table->getJavaEnv = NPN_GetJavaEnv;
  table->getJavaPeer = NPN_GetJavaPeer;
  table->geturlnotify = NPN_GetURLNotify;
  table->posturlnotify = NPN_PostURLNotify;
  table->getvalue = NPN_GetValue;
  table->setvalue = NPN_SetValue;
  table->invalidaterect = NPN_InvalidateRect;
  table->invalidateregion = NPN_InvalidateRegion;
  table->forceredraw = NPN_ForceRedraw;
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
  table->evaluate = NPN_Evaluate;
  table->getproperty = NPN_GetProperty;
  table->setproperty = NPN_SetProperty;
  table->removeproperty = NPN_RemoveProperty;
  table->hasproperty = NPN_HasProperty;
  table->hasmethod = NPN_HasMethod;
  table->releasevariantvalue = NPN_ReleaseVariantValue;
  table->setexception = NPN_SetException;
  table->pushpopupsenabledstate = NPN_PushPopupsEnabledState;
  table->poppopupsenabledstate = NPN_PopPopupsEnabledState;
  table->enumerate = NPN_Enumerate;
  table->pluginthreadasynccall = NPN_PluginThreadAsyncCall;
  table->construct = NPN_Construct;
  table->getvalueforurl = NPN_GetValueForURL;
  table->setvalueforurl = NPN_SetValueForURL;
  table->getauthenticationinfo = NPN_GetAuthenticationInfo;
  table->scheduletimer = NPN_ScheduleTimer;
  table->unscheduletimer = NPN_UnscheduleTimer;
  table->popupcontextmenu = NPN_PopUpContextMenu;
  table->convertpoint = NPN_ConvertPoint;
  table->handleevent = NPN_HandleEvent;
  table->unfocusinstance = NPN_UnfocusInstance;
  table->urlredirectresponse = NPN_URLRedirectResponse;
  table->initasyncsurface = NPN_InitAsyncSurface;
  table->finalizeasyncsurface = NPN_FinalizeAsyncSurface;
  table->setcurrentasyncsurface = NPN_SetCurrentAsyncSurface;
}
