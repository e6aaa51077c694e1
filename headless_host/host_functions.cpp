#include "headless_host/host_functions.h"

#include <cstring>
#include <string>

#include "headless_host/host.h"
#include "headless_host/kit/kit_functions.h"

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

bool NPN_Evaluate(NPP, NPObject*, NPString*, NPVariant* result) {
  ON_PLUGIN_THREAD(false);
  // Page script runs in the page, which answers asynchronously: no synchronous evaluation.
  Host().Unsupported(__func__);
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  return false;
}

void NPN_SetException(NPObject*, const NPUTF8* message) {
  ON_PLUGIN_THREAD_VOID();
  Host().SetException(message != nullptr ? message : "");
}

void NPN_PushPopupsEnabledState(NPP, NPBool) { ON_PLUGIN_THREAD_VOID(); }

void NPN_PopPopupsEnabledState(NPP) { ON_PLUGIN_THREAD_VOID(); }

void NPN_PluginThreadAsyncCall(NPP instance, void (*function)(void*), void* data) {
  // The one host function made for other threads.
  if (function != nullptr) Host().CallOnPluginThread(instance, function, data);
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
  FillKitFunctions(table);
  table->geturl = NPN_GetURL;
  table->posturl = NPN_PostURL;
  table->requestread = NPN_RequestRead;
  table->newstream = NPN_NewStream;
  table->write = NPN_Write;
  table->destroystream = NPN_DestroyStream;
  table->status = NPN_Status;
  table->uagent = NPN_UserAgent;
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
  table->evaluate = NPN_Evaluate;
  table->setexception = NPN_SetException;
  table->pushpopupsenabledstate = NPN_PushPopupsEnabledState;
  table->poppopupsenabledstate = NPN_PopPopupsEnabledState;
  table->pluginthreadasynccall = NPN_PluginThreadAsyncCall;
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
