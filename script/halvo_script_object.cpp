#include "script/halvo_script_object.h"

#include <new>

#include "plugin/host.h"
#include "plugin/log.h"
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
