// The engine's classes in the registry: CLSID\{...}\InprocServer32 with this
// DLL's path and ThreadingModel Apartment, and the three ProgIDs. Per machine
// under HKLM\Software\Classes (HKEY_CLASSES_ROOT), or per user under
// HKCU\Software\Classes.
#pragma once

#include <windows.h>

namespace engine {

enum class RegistrationScope { Machine, User };

HRESULT RegisterClasses(RegistrationScope scope);
// Removes only what names this engine: a ProgID another server has taken over stays.
HRESULT UnregisterClasses(RegistrationScope scope);

}  // namespace engine
