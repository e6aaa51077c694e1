// The one concrete plug-in type, made for every "application/x-halvoplugin"
// element: creates and configures the download engine, connects its event sink,
// subclasses the element's window, hands out the scriptable object and keeps
// the task store shared by engine events and script methods.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_interfaces.h"
#include "plugin/plugin_base.h"
#include "transfer/task_param.h"

class HalvoScriptObject;
class PageMessageRelay;

class HalvoPlugin : public PluginBase {
 public:
  class CSink;

  HalvoPlugin();
  ~HalvoPlugin() override;

  NPError Init(NPP instance, uint16_t mode, int16_t argc, char** argn, char** argv, NPSavedData* saved) override;
  NPError UnInit(NPSavedData** save) override;
  NPError SetWindow(NPWindow* window) override;
  NPError GetValue(NPPVariable variable, void* value) override;

  // Every message to the subclassed window goes to DefWindowProcW.
  static LRESULT CALLBACK PluginWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // The task store; each operation holds `lock` while it touches it. A key has
  // one place in `taskKeys`, the place where it was first stored.
  // StoreTask answers whether the key was new to the store.
  bool StoreTask(const _TaskParam& record);
  void RemoveTask(const std::wstring& key);
  void RemoveTasks(const std::vector<std::wstring>& keys);
  // Hands each stored task's text to the page function, in key order; the lock is not held while it runs.
  void DeliverTaskRecords(NPObject* callback);

  // The script object is going away on its own (the host freed it).
  void ForgetScriptObject(HalvoScriptObject* object);

  HalvoScriptObject* scriptObject = nullptr;
  LONG_PTR prevWndProc = 0;
  ISchedule* schedule = nullptr;
  IConfig* config = nullptr;
  IDownload* download = nullptr;
  CRITICAL_SECTION lock;
  std::map<std::wstring, _TaskParam> taskParams;
  std::vector<std::wstring> taskKeys;
  IConnectionPoint* connectionPoint = nullptr;
  IConnectionPointContainer* connectionPointContainer = nullptr;
  CSink* sink = nullptr;
  DWORD adviseCookie = 0;
  bool engineReady = false;

 private:
  // The site lock: whether the page holding this element may use the engine.
  bool PageAllowed(NPP instance);
  void CreateEngine();
  void ConnectSink();
  void ReleaseEngine();
  void RestoreWindowProcedure();

  bool lockReady = false;
  bool advised = false;
  // The window whose procedure was replaced; the old procedure goes back to it.
  HWND subclassedWindow = nullptr;
  DWORD pluginThread = 0;
  std::shared_ptr<PageMessageRelay> relay;
};

// The registry's creation callback: a new HalvoPlugin, or null when memory runs out.
PluginBase* CreateHalvoPlugin();
