// The DLL's COM entry points and one class factory per class. Creation is a
// logged call ("CreateInstance" under the class's name), so a test can make
// it fail like any method.
#include <windows.h>
#include <unknwn.h>

#include "tests/test_engine/call_record.h"
#include "tests/test_engine/com_guard.h"
#include "tests/test_engine/engine_classes.h"
#include "tests/test_engine/engine_start.h"
#include "tests/test_engine/test_engine_control.h"

namespace {

class Factory final : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID, void**, uint32_t*);
  Factory(const wchar_t* className, Create create) : className_(className), create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Factories live as long as the (pinned) DLL.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    return ComGuard([&] {
      CallRecord call(nullptr, className_, L"CreateInstance");
      call.Pointer(outer).Guid(riid);
      if (object == nullptr) return call.End(E_POINTER);
      *object = nullptr;
      if (!call.Proceed(&riid)) return call.End();
      if (outer != nullptr) return call.End(CLASS_E_NOAGGREGATION);
      uint32_t instance = 0;
      HRESULT result = create_(riid, object, &instance);
      call.Instance(instance);
      return call.End(result);
    });
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    return ComGuard([&] {
      CallRecord call(nullptr, className_, L"LockServer");
      call.Signed(lock);
      call.Proceed();
      return call.End(S_OK);
    });
  }

 private:
  const wchar_t* className_;
  Create create_;
};

Factory* FactoryFor(REFCLSID clsid) {
  static Factory* schedule = new Factory(L"Schedule", CreateSchedule);
  static Factory* config = new Factory(L"Config", CreateConfig);
  static Factory* download = new Factory(L"Download", CreateDownload);
  if (clsid == CLSID_TestEngineSchedule) return schedule;
  if (clsid == CLSID_TestEngineConfig) return config;
  if (clsid == CLSID_TestEngineDownload) return download;
  return nullptr;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  return ComGuard([&] {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    EnsureEngineStarted();
    Factory* factory = FactoryFor(clsid);
    if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, object);
  });
}

// The DLL is pinned: its state is the test's record and must stay.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
