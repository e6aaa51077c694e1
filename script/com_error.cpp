#include "script/com_error.h"

#include <comdef.h>
#include <oleauto.h>

void RaiseComError(HRESULT result, IUnknown* object, REFIID iid) {
  IErrorInfo* description = nullptr;
  ISupportErrorInfo* support = nullptr;
  if (object != nullptr &&
      object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)) == S_OK &&
      support != nullptr) {
    HRESULT supported = support->InterfaceSupportsErrorInfo(iid);
    support->Release();
    if (supported == S_OK && GetErrorInfo(0, &description) != S_OK) description = nullptr;
  }
  // The error takes over the reference to the description.
  throw _com_error(result, description, false);
}

void RaiseComError(HRESULT result) { throw _com_error(result, nullptr, false); }
