// The part every engine class shares: IUnknown and IDispatch (slots 0 to 6
// of its dual interface) and ISupportErrorInfo, each call logged under the
// class's name. A class adds its own methods from slot 7 and may answer
// QueryInterface for further interfaces through FindInterface.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <new>

#include "tests/test_engine/call_record.h"
#include "tests/test_engine/com_guard.h"
#include "tests/test_engine/engine_object.h"

template <typename Interface>
class DualObject : public Interface, public ISupportErrorInfo, public EngineObject {
 public:
  DualObject(const wchar_t* className, const IID& iid) : EngineObject(className), iid_(iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"QueryInterface");
      call.Guid(riid);
      if (object == nullptr) return call.End(E_POINTER);
      *object = nullptr;
      if (!call.Proceed(&riid)) return call.End();
      void* found = FindInterface(riid);
      if (found == nullptr) return call.End(E_NOINTERFACE);
      InternalAddRef();
      *object = found;
      return call.End(S_OK);
    });
  }

  ULONG STDMETHODCALLTYPE AddRef() override {
    return ComGuard<ULONG>(0, [&] {
      CallRecord call(this, ClassName(), L"AddRef");
      if (!call.Proceed()) return call.EndCount(0);
      return call.EndCount(CountedAddRef());
    });
  }

  ULONG STDMETHODCALLTYPE Release() override {
    return ComGuard<ULONG>(0, [&] {
      CallRecord call(this, ClassName(), L"Release");
      if (!call.Proceed()) return call.EndCount(0);
      return call.EndCount(CountedRelease());
    });
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetTypeInfoCount");
      if (count != nullptr) *count = 0;
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetTypeInfo");
      call.Unsigned(index).Unsigned(lcid);
      if (info != nullptr) *info = nullptr;
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetIDsOfNames");
      call.Guid(riid).Pointer(names).Unsigned(count).Unsigned(lcid).Pointer(ids);
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"Invoke");
      call.Signed(member).Guid(riid).Unsigned(lcid).Unsigned(flags).Pointer(params).Pointer(result)
          .Pointer(exception).Pointer(argError);
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"InterfaceSupportsErrorInfo");
      call.Guid(riid);
      if (!call.Proceed(&riid)) return call.End();
      return call.End(riid == iid_ ? S_OK : S_FALSE);
    });
  }

  // The interface pointer for riid, or null. The count is taken by the caller.
  virtual void* FindInterface(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_) return static_cast<Interface*>(this);
    if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }

 protected:
  // A placeholder slot: logged, not implemented.
  HRESULT Placeholder(const wchar_t* method) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  // A method without arguments or outs that only answers.
  HRESULT Plain(const wchar_t* method) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.Proceed();
      return call.End(S_OK);
    });
  }

 private:
  IID iid_;
};

// A class factory's work: a fresh object answering riid with one reference.
// An object that does not answer riid dies at once.
template <typename Object>
HRESULT CreateEngineObject(REFIID riid, void** out, uint32_t* instance) {
  Object* object = new (std::nothrow) Object;
  if (object == nullptr) return E_OUTOFMEMORY;
  *instance = object->Instance();
  void* found = object->FindInterface(riid);
  if (found != nullptr) object->InternalAddRef();
  *out = found;
  object->InternalRelease();
  return found != nullptr ? S_OK : E_NOINTERFACE;
}
