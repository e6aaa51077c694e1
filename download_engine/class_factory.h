// The class objects DllGetClassObject hands out, one per engine class.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace engine {

// S_OK with a class factory for the class, or CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassFactory(REFCLSID clsid, REFIID iid, void** object);

}  // namespace engine
