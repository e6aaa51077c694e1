// The four module exports and the instance entry points handed to the browser.
// Each entry point is a thin, guarded trampoline into the instance object held
// in the NPP's pdata; no exception crosses back into the browser.
#include <windows.h>
#include <objbase.h>
#include <propidl.h>
// gdiplus.h needs the property types that the lean Windows headers leave out.
#include <gdiplus.h>

#include "npapi/abi_checks.h"
#include "plugin/guard.h"
#include "plugin/host.h"
#include "plugin/log.h"
#include "plugin/plugin_factory.h"

namespace {

ULONG_PTR gdiplusToken = 0;
// CoInitialize calls that succeeded and still wait for their CoUninitialize.
int comInitCount = 0;

PluginBase* InstanceObject(NPP instance) {
  return instance != nullptr ? static_cast<PluginBase*>(instance->pdata) : nullptr;
}

// Runs an operation on the instance object, or answers `invalid` when there is none.
template <typename Result, typename Operation>
Result Dispatch(NPP instance, Result invalid, Result failed, Operation operation) {
  return Guarded(failed, [&]() -> Result {
    PluginBase* plugin = InstanceObject(instance);
    return plugin != nullptr ? operation(plugin) : invalid;
  });
}

template <typename Operation>
void DispatchVoid(NPP instance, Operation operation) {
  GuardedVoid([&] {
    if (PluginBase* plugin = InstanceObject(instance)) operation(plugin);
  });
}

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved) {
  return Guarded<NPError>(NPERR_GENERIC_ERROR, [&]() -> NPError {
    WriteLog("NPP_New");
    if (instance == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
    PluginBase* plugin = PluginFactory::CreatePlugin(pluginType);
    if (plugin == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
    return plugin->Init(instance, mode, argc, argn, argv, saved);
  });
}

NPError NPP_Destroy(NPP instance, NPSavedData** save) {
  return Guarded<NPError>(NPERR_GENERIC_ERROR, [&]() -> NPError {
    // Spelt as the log lines always were: readers of existing logs match this text.
    WriteLog("NPP_Destory");
    PluginBase* plugin = InstanceObject(instance);
    if (plugin == nullptr) return NPERR_INVALID_INSTANCE_ERROR;
    NPError result = NPERR_GENERIC_ERROR;
    GuardedVoid([&] { result = plugin->UnInit(save); });
    instance->pdata = nullptr;
    delete plugin;
    return result;
  });
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
  return Dispatch<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR,
                           [&](PluginBase* p) { return p->SetWindow(window); });
}

NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype) {
  return Dispatch<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR,
                           [&](PluginBase* p) { return p->NewStream(type, stream, seekable, stype); });
}

NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
  return Dispatch<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR,
                           [&](PluginBase* p) { return p->DestroyStream(stream, reason); });
}

// The byte-count and handled answers have no error code: without an instance
// they say "no data wanted" and "not handled".
int32_t NPP_WriteReady(NPP instance, NPStream* stream) {
  return Dispatch<int32_t>(instance, 0, 0, [&](PluginBase* p) { return p->WriteReady(stream); });
}

int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer) {
  return Dispatch<int32_t>(instance, 0, 0, [&](PluginBase* p) { return p->Write(stream, offset, len, buffer); });
}

void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname) {
  DispatchVoid(instance, [&](PluginBase* p) { p->StreamAsFile(stream, fname); });
}

void NPP_Print(NPP instance, NPPrint* platformPrint) {
  DispatchVoid(instance, [&](PluginBase* p) { p->Print(platformPrint); });
}

int16_t NPP_HandleEvent(NPP instance, void* event) {
  return Dispatch<int16_t>(instance, 0, 0, [&](PluginBase* p) { return p->HandleEvent(event); });
}

void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData) {
  DispatchVoid(instance, [&](PluginBase* p) { p->URLNotify(url, reason, notifyData); });
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
  if (instance != nullptr) {
    return Dispatch<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR,
                             [&](PluginBase* p) { return p->GetValue(variable, value); });
  }
  // Asked before any instance exists: the module names itself.
  if ((variable == NPPVpluginNameString || variable == NPPVpluginDescriptionString) && value != nullptr) {
    *static_cast<const char**>(value) = PluginFactory::ModuleName();
    return NPERR_NO_ERROR;
  }
  return NPERR_GENERIC_ERROR;
}

NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value) {
  return Dispatch<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR,
                           [&](PluginBase* p) { return p->SetValue(variable, value); });
}

}  // namespace

extern "C" {

NPError OSCALL NP_GetEntryPoints(NPPluginFuncs* funcs) {
  if (funcs == nullptr) return NPERR_INVALID_FUNCTABLE_ERROR;
  // size, javaClass and every member after setvalue stay as the browser set them.
  funcs->version = (NP_VERSION_MAJOR << 8) | 26;
  funcs->newp = NPP_New;
  funcs->destroy = NPP_Destroy;
  funcs->setwindow = NPP_SetWindow;
  funcs->newstream = NPP_NewStream;
  funcs->destroystream = NPP_DestroyStream;
  funcs->asfile = NPP_StreamAsFile;
  funcs->writeready = NPP_WriteReady;
  funcs->write = NPP_Write;
  funcs->print = NPP_Print;
  funcs->event = NPP_HandleEvent;
  funcs->urlnotify = NPP_URLNotify;
  funcs->getvalue = NPP_GetValue;
  funcs->setvalue = NPP_SetValue;
  return NPERR_NO_ERROR;
}

NPError OSCALL NP_Initialize(NPNetscapeFuncs* browserFuncs) {
  return Guarded<NPError>(NPERR_GENERIC_ERROR, [&]() -> NPError {
    if (SUCCEEDED(CoInitialize(nullptr))) ++comInitCount;
    PluginFactory::RegisterTypes();
    OpenLogFile();
    if (browserFuncs == nullptr) return NPERR_INVALID_FUNCTABLE_ERROR;
    if ((browserFuncs->version >> 8) > NP_VERSION_MAJOR) return NPERR_INCOMPATIBLE_VERSION_ERROR;
    SetHostFunctions(browserFuncs);
    // GDI+ is started and stopped with the module although nothing here draws:
    // a page's plug-in element has always run with GDI+ up in the browser
    // process, and what else lives there may count on it. A second
    // NP_Initialize keeps the running GDI+ instead of leaking a second one.
    if (gdiplusToken == 0) {
      Gdiplus::GdiplusStartupInput input;
      input.GdiplusVersion = 1;
      input.DebugEventCallback = nullptr;
      input.SuppressBackgroundThread = FALSE;
      input.SuppressExternalCodecs = FALSE;
      Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
    }
    return NPERR_NO_ERROR;
  });
}

NPError OSCALL NP_Shutdown(void) {
  GuardedVoid([] {
    // Only a CoInitialize that succeeded is undone; an unbalanced CoUninitialize
    // would tear down the browser's own apartment.
    if (comInitCount > 0) {
      --comInitCount;
      CoUninitialize();
    }
    if (gdiplusToken != 0) {
      Gdiplus::GdiplusShutdown(gdiplusToken);
      gdiplusToken = 0;
    }
  });
  return NPERR_NO_ERROR;
}

const char* NP_GetMIMEDescription(void) { return PluginFactory::MimeDescription(); }

}  // extern "C"
