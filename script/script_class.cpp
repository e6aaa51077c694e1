// The shared NPClass: each entry converts the NPObject back to the script object
// it is the base of and calls the virtual operation of the same role. Nothing
// raised inside (an engine error, bad_alloc) reaches the browser: the call then
// answers false, which the host reports to script as a failed call.
#include "plugin/guard.h"
#include "script/script_object_base.h"

namespace {

ScriptObjectBase* Object(NPObject* npobj) { return static_cast<ScriptObjectBase*>(npobj); }

NPObject* AllocateNothing(NPP, NPClass*) { return nullptr; }

void Deallocate(NPObject* npobj) {
  GuardedVoid([&] { Object(npobj)->Deallocate(); });
}

void Invalidate(NPObject* npobj) {
  GuardedVoid([&] { Object(npobj)->Invalidate(); });
}

bool HasMethod(NPObject* npobj, NPIdentifier name) {
  return Guarded(false, [&] { return Object(npobj)->HasMethod(name); });
}

bool Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(false, [&] { return Object(npobj)->Invoke(name, args, argCount, result); });
}

bool InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(false, [&] { return Object(npobj)->InvokeDefault(args, argCount, result); });
}

bool HasProperty(NPObject* npobj, NPIdentifier name) {
  return Guarded(false, [&] { return Object(npobj)->HasProperty(name); });
}

bool GetProperty(NPObject* npobj, NPIdentifier name, NPVariant* result) {
  return Guarded(false, [&] { return Object(npobj)->GetProperty(name, result); });
}

bool SetProperty(NPObject* npobj, NPIdentifier name, const NPVariant* value) {
  return Guarded(false, [&] { return Object(npobj)->SetProperty(name, value); });
}

bool RemoveProperty(NPObject* npobj, NPIdentifier name) {
  return Guarded(false, [&] { return Object(npobj)->RemoveProperty(name); });
}

bool Enumerate(NPObject* npobj, NPIdentifier** names, uint32_t* count) {
  return Guarded(false, [&] { return Object(npobj)->Enumerate(names, count); });
}

bool Construct(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  return Guarded(false, [&] { return Object(npobj)->Construct(args, argCount, result); });
}

}  // namespace

NPClass scriptClass = {
    NP_CLASS_STRUCT_VERSION_CTOR,
    AllocateNothing,
    Deallocate,
    Invalidate,
    HasMethod,
    Invoke,
    InvokeDefault,
    HasProperty,
    GetProperty,
    SetProperty,
    RemoveProperty,
    Enumerate,
    Construct,
};
