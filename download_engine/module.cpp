// The DLL's exports: the COM server entry points and self-registration.
//
// DllRegisterServer and DllUnregisterServer work per machine (HKLM, which is
// HKEY_CLASSES_ROOT); DllInstall(TRUE or FALSE, L"user") does the same per user
// under HKCU\Software\Classes, DllInstall(..., L"machine") or a null text per
// machine. "regsvr32 /i:user /n halvo_engine.dll" reaches the per-user form.
#include <windows.h>
#include <olectl.h>

#include "download_engine/class_factory.h"
#include "download_engine/com_support.h"
#include "download_engine/module_state.h"
#include "download_engine/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    engine::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return engine::GetClassFactory(clsid, iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return engine::ModuleInUse() ? S_FALSE : S_OK; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return engine::Guard(IID_NULL, [] { return engine::RegisterClasses(engine::RegistrationScope::Machine); });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return engine::Guard(IID_NULL, [] { return engine::UnregisterClasses(engine::RegistrationScope::Machine); });
}

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command) {
  engine::RegistrationScope scope;
  if (command == nullptr || command[0] == 0 || _wcsicmp(command, L"machine") == 0)
    scope = engine::RegistrationScope::Machine;
  else if (_wcsicmp(command, L"user") == 0)
    scope = engine::RegistrationScope::User;
  else
    return E_INVALIDARG;
  return engine::Guard(IID_NULL, [&] {
    return install ? engine::RegisterClasses(scope) : engine::UnregisterClasses(scope);
  });
}
