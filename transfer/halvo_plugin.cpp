#include "transfer/halvo_plugin.h"

#include <comdef.h>

#include <new>

#include "engine/engine_call.h"
#include "plugin/host.h"
#include "plugin/page_address.h"
#include "script/conversions.h"
#include "script/halvo_script_object.h"
#include "transfer/event_sink.h"
#include "transfer/message_relay.h"
#include "transfer/site_lock.h"

namespace {

const char kClientVersion[] = "Chrome/21.0.1180.79 Safari/537.1 Corvane/1.0.2";

// An engine object by ProgID; null when it is not installed or cannot be made.
template <typename Interface>
Interface* CreateEngineObject(const wchar_t* progId, REFIID iid, HRESULT* created = nullptr) {
  CLSID clsid = CLSID_NULL;
  CLSIDFromProgID(progId, &clsid);
  Interface* object = nullptr;
  HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object));
  if (created != nullptr) *created = result;
  if (result != S_OK && object != nullptr) {
    object->Release();
    object = nullptr;
  }
  return object;
}

template <typename Interface>
void ReleaseInterface(Interface*& object) {
  if (object == nullptr) return;
  Interface* held = object;
  object = nullptr;
  held->Release();
}

}  // namespace

HalvoPlugin::HalvoPlugin() { OutputDebugStringA("NPError HalvoPlugin::HalvoPlugin(void)\n"); }

HalvoPlugin::~HalvoPlugin() {
  OutputDebugStringA("NPError HalvoPlugin::~HalvoPlugin(void)\n");
  taskKeys.clear();
  taskParams.clear();
}

NPError HalvoPlugin::Init(NPP instance, uint16_t, int16_t, char**, char**, NPSavedData*) {
  OutputDebugStringA("NPError HalvoPlugin::Init\n");
  scriptObject = nullptr;
  prevWndProc = 0;
  NPN_SetValue(instance, NPPVpluginWindowBool, reinterpret_cast<void*>(1));
  instance->pdata = this;
  InitializeCriticalSection(&lock);
  lockReady = true;
  pluginThread = GetCurrentThreadId();
  // Recorded before the engine starts: an event fired during start-up posts with it.
  npp = instance;
  // A page the site lock refuses gets the instance of a machine without an
  // engine: no engine object, no sink, nothing ever posted to it.
  if (!PageAllowed(instance)) return NPERR_NO_ERROR;
  relay = PageMessageRelay::Create(instance);
  CreateEngine();
  return NPERR_NO_ERROR;
}

bool HalvoPlugin::PageAllowed(NPP instance) {
  try {
    // Decided afresh for every element: the allowed list may change while the browser runs.
    SiteVerdict verdict = JudgePage(LearnPageAddress(instance), AllowedOrigins());
    if (verdict.allowed) return true;
    OutputDebugStringA(("NPError HalvoPlugin::Init refused " + verdict.page + "\n").c_str());
  } catch (...) {
    OutputDebugStringA("NPError HalvoPlugin::Init refused (site lock not read)\n");
  }
  return false;
}

void HalvoPlugin::CreateEngine() {
  schedule = CreateEngineObject<ISchedule>(kScheduleProgId, IID_ISchedule);
  if (schedule == nullptr) return;  // no engine: every engine method answers StatusEngineUnavailable
  engineReady = true;
  // A raised engine error ends the sequence here; what was created stays, and
  // the methods needing a missing object answer StatusEngineUnavailable.
  try {
    EngineCall(schedule, &ISchedule::StartupStep1);
    EngineCall(schedule, &ISchedule::StartupStep2);
    config = CreateEngineObject<IConfig>(kConfigProgId, IID_IConfig);
    if (config != nullptr) {
      UniqueBstr clientVersion = AnsiToBstr(kClientVersion);
      EngineCall(config, &IConfig::SetClientVersion, clientVersion.Get());
      EngineCall(config, &IConfig::SetMaxDownloadCount, 5L);
      EngineCall(config, &IConfig::SetAutoStart, 0L);
    }
    download = CreateEngineObject<IDownload>(kDownloadProgId, IID_IDownload);
    if (download != nullptr) {
      ConnectSink();
      EngineCall(download, &IDownload::StartupStep1);
      EngineCall(download, &IDownload::StartupStep2);
    }
  } catch (...) {
  }
}

void HalvoPlugin::ConnectSink() {
  if (download->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&connectionPointContainer)) !=
      S_OK) {
    connectionPointContainer = nullptr;
    return;
  }
  if (connectionPointContainer->FindConnectionPoint(DIID_ITaskEvents, &connectionPoint) != S_OK) {
    connectionPoint = nullptr;
    return;
  }
  sink = new (std::nothrow) CSink(this, relay, pluginThread);
  if (sink == nullptr) return;
  DWORD cookie = 0;
  if (connectionPoint->Advise(sink, &cookie) == S_OK) {
    adviseCookie = cookie;
    advised = true;
  }
}

NPError HalvoPlugin::UnInit(NPSavedData**) {
  OutputDebugStringA("NPError HalvoPlugin::UnInit\n");
  // Script that still holds the object now reaches no instance; the instance's
  // own reference goes.
  if (HalvoScriptObject* object = scriptObject) {
    scriptObject = nullptr;
    object->plugin = nullptr;
    NPN_ReleaseObject(object);
  }
  if (engineReady) ReleaseEngine();
  if (relay) {
    relay->Close();
    relay.reset();
  }
  RestoreWindowProcedure();
  if (lockReady) {
    DeleteCriticalSection(&lock);
    lockReady = false;
  }
  return NPERR_NO_ERROR;
}

void HalvoPlugin::ReleaseEngine() {
  if (schedule != nullptr) {
    try {
      EngineCall(schedule, &ISchedule::ShutdownStep);
    } catch (...) {
    }
  }
  // Disconnected first, and every event already inside the sink on an engine
  // thread has left before any engine object goes: such an event may be
  // archiving through the Download object or changing the task store.
  if (connectionPoint != nullptr && advised) connectionPoint->Unadvise(adviseCookie);
  advised = false;
  if (sink != nullptr) sink->Detach();
  ReleaseInterface(schedule);
  ReleaseInterface(config);
  ReleaseInterface(connectionPoint);
  ReleaseInterface(connectionPointContainer);
  ReleaseInterface(download);
  // The engine may still hold the sink for a moment; it goes with the last reference.
  ReleaseInterface(sink);
}

NPError HalvoPlugin::SetWindow(NPWindow* npWindow) {
  HWND given = npWindow != nullptr ? static_cast<HWND>(npWindow->window) : nullptr;
  if (given == nullptr && prevWndProc != 0) RestoreWindowProcedure();
  window = given;
  if (window != nullptr && prevWndProc == 0) {
    prevWndProc = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PluginWndProc));
    if (prevWndProc != 0) {
      subclassedWindow = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }
  return NPERR_NO_ERROR;
}

void HalvoPlugin::RestoreWindowProcedure() {
  if (prevWndProc == 0) return;
  // Back onto the window that was subclassed, which may not be the last one recorded.
  if (IsWindow(subclassedWindow)) SetWindowLongPtrW(subclassedWindow, GWLP_WNDPROC, prevWndProc);
  prevWndProc = 0;
  subclassedWindow = nullptr;
}

// Every message goes to the default procedure, not to the one it replaced: the
// element's window has always behaved so, and passing messages on to the
// browser's procedure would change what the browser sees from it.
LRESULT CALLBACK HalvoPlugin::PluginWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

NPError HalvoPlugin::GetValue(NPPVariable variable, void* value) {
  if (value == nullptr) return NPERR_GENERIC_ERROR;
  switch (variable) {
    case NPPVpluginNeedsXEmbed:
      *static_cast<NPBool*>(value) = true;
      return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject: {
      if (scriptObject == nullptr) scriptObject = CreateScriptObject(npp);
      if (scriptObject == nullptr) return NPERR_OUT_OF_MEMORY_ERROR;
      // The host's answer carries a reference of its own; the instance keeps the first one.
      *static_cast<NPObject**>(value) = NPN_RetainObject(scriptObject);
      return NPERR_NO_ERROR;
    }
    default:
      return NPERR_GENERIC_ERROR;
  }
}

void HalvoPlugin::ForgetScriptObject(HalvoScriptObject* object) {
  if (scriptObject == object) scriptObject = nullptr;
}

PluginBase* CreateHalvoPlugin() { return new (std::nothrow) HalvoPlugin(); }
