// The generic scriptable object: NPObject header, name tables for methods and
// properties, and one virtual operation per NPClass entry. The browser sees only
// the NPObject base; the shared class record forwards its entries here.
#pragma once

#include <map>
#include <string>

#include "npapi/npruntime.h"

class ScriptObjectBase : public NPObject {
 public:
  // Serves one script method, called on the object itself with the host's arguments;
  // true reports the call as completed, false as failed.
  using FunctionHandler = bool (ScriptObjectBase::*)(const NPVariant* args, uint32_t argCount, NPVariant* result);

  struct FunctionItem {
    std::string name;
    FunctionHandler handler;
  };

  struct PropertyItem {
    std::string name;
    NPVariant value;
  };

  ScriptObjectBase() = default;
  ScriptObjectBase(const ScriptObjectBase&) = delete;
  ScriptObjectBase& operator=(const ScriptObjectBase&) = delete;
  virtual ~ScriptObjectBase();

  virtual void Deallocate() = 0;
  virtual void Invalidate() = 0;
  virtual bool HasMethod(NPIdentifier name);
  virtual bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result);
  virtual bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result);
  virtual bool HasProperty(NPIdentifier name);
  virtual bool GetProperty(NPIdentifier name, NPVariant* result);
  virtual bool SetProperty(NPIdentifier name, const NPVariant* value);
  virtual bool RemoveProperty(NPIdentifier name);
  virtual bool Enumerate(NPIdentifier** names, uint32_t* count);
  virtual bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result) = 0;
  virtual void RegisterFunctions();

 protected:
  // Adds a method; a name already registered keeps its first handler.
  void AddFunction(const FunctionItem& item);

  std::map<std::string, FunctionItem> functions;
  std::map<std::string, PropertyItem> properties;
};

// The one class record of every script object: thin, guarded trampolines into
// the virtual operations above. `allocate` is set by whoever creates an object.
extern NPClass scriptClass;
