// What the engine's COM objects share: reference counting that keeps the
// module and the engine alive, the failure of a method as an HRESULT with
// error information, and the IDispatch members of the dual interfaces, which
// offer no type information (clients call through the virtual table).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <new>

#include "download_engine/engine.h"

namespace engine {

// Sets the thread's error information from the status and returns its HRESULT.
HRESULT Report(const Status& status, REFIID iid);
// For a method's bad pointer argument.
HRESULT ReportPointer(REFIID iid);

// Runs a method's body so that no C++ exception leaves it: running out of
// memory becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <typename Body>
HRESULT Guard(REFIID iid, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    try {
      return Report(Status{E_UNEXPECTED, L"the engine failed unexpectedly"}, iid);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
}

// The reference count of one object: the first reference counts the object
// in the module and in the engine, the last one deletes it.
class ObjectLife {
 public:
  ObjectLife();
  ~ObjectLife();
  ULONG AddRef() { return static_cast<ULONG>(++count_); }
  ULONG Release() { return static_cast<ULONG>(--count_); }

 private:
  std::atomic<long> count_{1};
};

// ISupportErrorInfo answering S_OK for one interface.
class ErrorInfoSupport : public ISupportErrorInfo {
 public:
  explicit ErrorInfoSupport(IUnknown* owner, REFIID iid) : owner_(owner), iid_(iid) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return owner_->QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, iid_) ? S_OK : S_FALSE;
  }

 private:
  IUnknown* owner_;
  IID iid_;
};

// The four IDispatch members of an object without type information.
#define ENGINE_NO_TYPE_INFO()                                                                                   \
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {                                            \
    if (count == nullptr) return E_POINTER;                                                                     \
    *count = 0;                                                                                                 \
    return S_OK;                                                                                                \
  }                                                                                                             \
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                \
    if (info) *info = nullptr;                                                                                  \
    return DISP_E_BADINDEX;                                                                                     \
  }                                                                                                             \
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                                           \
  }

}  // namespace engine
