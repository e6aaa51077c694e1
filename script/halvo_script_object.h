// The scriptable object page script holds for one plug-in element.
#pragma once

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
};

// Creates the object through the host with its method table filled; null on failure.
// The object carries the one reference from its creation.
HalvoScriptObject* CreateScriptObject(NPP npp);
