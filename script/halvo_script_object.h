// The scriptable object page script holds for one plug-in element. Every
// handler answers in the same order: its arguments first (StatusBadArguments),
// then the owning instance (StatusNoInstance), then the engine
// (StatusEngineUnavailable), then the engine call and StatusOk.
#pragma once

#include <initializer_list>

#include "engine/engine_interfaces.h"
#include "script/argument_check.h"
#include "script/script_object_base.h"

class HalvoPlugin;

class HalvoScriptObject : public ScriptObjectBase {
 public:
  // The `allocate` entry of the class record while an object is being created.
  static NPObject* Allocate(NPP npp, NPClass* aClass);

  void Deallocate() override;
  void Invalidate() override;
  bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  void RegisterFunctions() override;

  // The instance served, not owned; null once the instance is gone (calls then
  // answer StatusNoInstance instead of reaching a deleted instance).
  HalvoPlugin* plugin = nullptr;

 private:
  using Args = const NPVariant*;

  // The status steps before the work; each answers the status and returns false
  // (or null) when the call stops there.
  bool Accept(Args args, uint32_t argCount, std::initializer_list<Argument> rules, NPVariant* result);
  bool EngineReady(NPVariant* result);
  IDownload* ReadyDownload(NPVariant* result);
  IConfig* ReadyConfig(NPVariant* result);
  bool Done(NPVariant* result);

  bool NoOpHandler(Args args, uint32_t argCount, NPVariant* result);

  // Tasks.
  bool CreateDownload(Args args, uint32_t argCount, NPVariant* result);
  bool StopDownload(Args args, uint32_t argCount, NPVariant* result);
  bool DeleteDownload(Args args, uint32_t argCount, NPVariant* result);
  bool CancelDownload(Args args, uint32_t argCount, NPVariant* result);
  bool GetBlockStatusList(Args args, uint32_t argCount, NPVariant* result);
  bool GetResourceSize(Args args, uint32_t argCount, NPVariant* result);
  bool GetTotalDownloadSpeed(Args args, uint32_t argCount, NPVariant* result);
  bool GetDownloadingCount(Args args, uint32_t argCount, NPVariant* result);
  bool ImportTask(Args args, uint32_t argCount, NPVariant* result);
  bool SetCookie(Args args, uint32_t argCount, NPVariant* result);
  bool ClearCookie(Args args, uint32_t argCount, NPVariant* result);
  bool LoadFinishTask(Args args, uint32_t argCount, NPVariant* result);
  bool LoadWorkTask(Args args, uint32_t argCount, NPVariant* result);
  bool Move(Args args, uint32_t argCount, NPVariant* result);

  // Engine settings.
  bool SetProxy(Args args, uint32_t argCount, NPVariant* result);
  bool GetProxy(Args args, uint32_t argCount, NPVariant* result);
  bool SetUPnP(Args args, uint32_t argCount, NPVariant* result);
  bool GetUPnP(Args args, uint32_t argCount, NPVariant* result);
  bool SetLimitSpeed(Args args, uint32_t argCount, NPVariant* result);
  bool GetLimitSpeed(Args args, uint32_t argCount, NPVariant* result);
  bool SetDiskCache(Args args, uint32_t argCount, NPVariant* result);
  bool GetDiskCache(Args args, uint32_t argCount, NPVariant* result);
  bool SetMaxDownloadCount(Args args, uint32_t argCount, NPVariant* result);
  bool GetMaxDownloadCount(Args args, uint32_t argCount, NPVariant* result);
  bool SetAutoStart(Args args, uint32_t argCount, NPVariant* result);
  bool GetAutoStart(Args args, uint32_t argCount, NPVariant* result);
  bool SetUDPPort(Args args, uint32_t argCount, NPVariant* result);
  bool GetUDPPort(Args args, uint32_t argCount, NPVariant* result);
  bool SetDownloadSingleThread(Args args, uint32_t argCount, NPVariant* result);
  bool GetDownloadSingleThread(Args args, uint32_t argCount, NPVariant* result);
  bool GetPeerID(Args args, uint32_t argCount, NPVariant* result);
  bool GetIP(Args args, uint32_t argCount, NPVariant* result);
  bool SetClientVersion(Args args, uint32_t argCount, NPVariant* result);

  // The local machine.
  bool ExecuteFile(Args args, uint32_t argCount, NPVariant* result);

  // GetPeerID and GetIP: the engine's text as a string result.
  bool TextResult(HRESULT (STDMETHODCALLTYPE IConfig::*getter)(BSTR*), NPVariant* result);
};

// Creates the object through the host with its method table filled; null on failure.
// The object carries the one reference from its creation.
HalvoScriptObject* CreateScriptObject(NPP npp);
