#include "download_engine/com_support.h"

#include <oleauto.h>

#include "download_engine/module_state.h"

namespace engine {

HRESULT Report(const Status& status, REFIID iid) {
  if (!status.Failed()) return status.result;
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(L"Halvo download engine"));
    create->SetDescription(const_cast<LPOLESTR>(status.message.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return status.result;
}

HRESULT ReportPointer(REFIID iid) { return Report(Status{E_POINTER, L"a required out pointer is null"}, iid); }

ObjectLife::ObjectLife() {
  ObjectCreated();
  Engine::Instance().AddObject();
}

ObjectLife::~ObjectLife() {
  Engine::Instance().RemoveObject();
  ObjectDestroyed();
}

}  // namespace engine
