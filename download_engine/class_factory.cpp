#include "download_engine/class_factory.h"

#include <atomic>
#include <new>

#include "download_engine/class_ids.h"
#include "download_engine/config_object.h"
#include "download_engine/download_object.h"
#include "download_engine/module_state.h"
#include "download_engine/schedule_object.h"

namespace engine {

namespace {

template <typename Object>
class Factory final : public IClassFactory {
 public:
  Factory() { ObjectCreated(); }
  ~Factory() { ObjectDestroyed(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = static_cast<ULONG>(--count_);
    if (count == 0) delete this;
    return count;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return Guard(IID_IClassFactory, [&]() -> HRESULT {
      Object* created = new Object();
      HRESULT result = created->QueryInterface(riid, object);
      created->Release();
      return result;
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }

 private:
  std::atomic<long> count_{1};
};

template <typename Object>
HRESULT Hand(REFIID iid, void** object) {
  auto* factory = new (std::nothrow) Factory<Object>();
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT result = factory->QueryInterface(iid, object);
  factory->Release();
  return result;
}

}  // namespace

HRESULT GetClassFactory(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualCLSID(clsid, CLSID_Schedule)) return Hand<ScheduleObject>(iid, object);
  if (IsEqualCLSID(clsid, CLSID_Config)) return Hand<ConfigObject>(iid, object);
  if (IsEqualCLSID(clsid, CLSID_Download)) return Hand<DownloadObject>(iid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace engine
