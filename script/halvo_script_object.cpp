#include "script/halvo_script_object.h"

#include <new>

#include "plugin/host.h"
#include "plugin/log.h"
#include "script/script_status.h"
#include "transfer/halvo_plugin.h"

NPObject* HalvoScriptObject::Allocate(NPP npp, NPClass*) {
  WriteLog("HalvoScriptObject Allocate");
  auto* object = new (std::nothrow) HalvoScriptObject();
  if (object == nullptr) return nullptr;
  object->plugin = npp != nullptr ? static_cast<HalvoPlugin*>(npp->pdata) : nullptr;
  return object;
}

void HalvoScriptObject::Deallocate() {
  WriteLog("HalvoScriptObject Deallocate");
  // A host may free the object before the instance goes: the instance must not
  // hand it out or release it afterwards.
  if (plugin != nullptr) plugin->ForgetScriptObject(this);
  delete this;
}

void HalvoScriptObject::Invalidate() {}

bool HalvoScriptObject::Construct(const NPVariant*, uint32_t, NPVariant*) { return true; }

HalvoScriptObject* CreateScriptObject(NPP npp) {
  scriptClass.allocate = HalvoScriptObject::Allocate;
  NPObject* created = NPN_CreateObject(npp, &scriptClass);
  if (created == nullptr) return nullptr;
  auto* object = static_cast<HalvoScriptObject*>(static_cast<ScriptObjectBase*>(created));
  object->RegisterFunctions();
  return object;
}

bool HalvoScriptObject::Accept(Args args, uint32_t argCount, std::initializer_list<Argument> rules,
                               NPVariant* result) {
  if (ArgumentsMatch(args, argCount, rules)) return true;
  SetStatusResult(result, StatusBadArguments);
  return false;
}

bool HalvoScriptObject::EngineReady(NPVariant* result) {
  if (plugin == nullptr) {
    SetStatusResult(result, StatusNoInstance);
    return false;
  }
  if (!plugin->engineReady) {
    SetStatusResult(result, StatusEngineUnavailable);
    return false;
  }
  return true;
}

IDownload* HalvoScriptObject::ReadyDownload(NPVariant* result) {
  if (!EngineReady(result)) return nullptr;
  // The Download object may be missing although the Schedule object was made.
  if (plugin->download == nullptr) SetStatusResult(result, StatusEngineUnavailable);
  return plugin->download;
}

IConfig* HalvoScriptObject::ReadyConfig(NPVariant* result) {
  if (!EngineReady(result)) return nullptr;
  if (plugin->config == nullptr) SetStatusResult(result, StatusEngineUnavailable);
  return plugin->config;
}

bool HalvoScriptObject::Done(NPVariant* result) {
  SetStatusResult(result, StatusOk);
  return true;
}

bool HalvoScriptObject::NoOpHandler(Args, uint32_t, NPVariant*) { return true; }
