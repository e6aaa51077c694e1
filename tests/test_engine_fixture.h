// What the test engine's tests share: interfaces released at the end of a
// scope, owned BSTRs, a sink that records every event it is given, and the
// fixture that registers the engine and checks its ledgers after each test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_interfaces.h"
#include "tests/support/test_engine.h"
#include "tests/support/test_engine_registration.h"


namespace engine_test {
// Releases its interface at the end of the scope.
template <typename Interface>
class Ref {
 public:
  Ref() = default;
  explicit Ref(Interface* pointer) : pointer_(pointer) {}
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  Interface** out() {
    Reset();
    return &pointer_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

inline HRESULT CreateByProgId(const wchar_t* progId, REFIID iid, void** object) {
  CLSID clsid;
  HRESULT found = CLSIDFromProgID(progId, &clsid);
  if (found != S_OK) return found;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

// A BSTR owned by the test.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : text_(text != nullptr ? SysAllocString(text) : nullptr) {}
  Bstr(const wchar_t* text, UINT length) : text_(SysAllocStringLen(text, length)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

// The page side of the events: an IDispatch sink that keeps a copy of every
// invocation and counts its references (never freed: it lives on the stack).
class RecordingSink : public IDispatch {
 public:
  struct Invocation {
    DISPID dispid;
    DWORD thread;
    bool nullArray;
    UINT count;
    UINT named;
    std::vector<VARIANT> args;
  };

  explicit RecordingSink(bool answersEventInterface = true) : answersEventInterface_(answersEventInterface) {}
  ~RecordingSink() {
    for (Invocation& invocation : invocations_)
      for (VARIANT& value : invocation.args) VariantClear(&value);
    if (allInside_ != nullptr) CloseHandle(allInside_);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || (answersEventInterface_ && riid == DIID_ITaskEvents)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    Invocation invocation{dispid, GetCurrentThreadId(), params->rgvarg == nullptr, params->cArgs,
                          params->cNamedArgs, {}};
    for (UINT i = 0; params->rgvarg != nullptr && i < params->cArgs; ++i) {
      const VARIANT& given = params->rgvarg[i];
      VARIANT copy;
      VariantInit(&copy);
      if (V_VT(&given) == VT_BSTR) {
        // Wine's VariantCopy turns a null BSTR into an empty one; the difference matters here.
        V_VT(&copy) = VT_BSTR;
        V_BSTR(&copy) = V_BSTR(&given) != nullptr ? SysAllocStringLen(V_BSTR(&given), SysStringLen(V_BSTR(&given)))
                                                 : nullptr;
      } else if (VariantCopy(&copy, const_cast<VARIANT*>(&given)) != S_OK) {
        copy = given;
      }
      invocation.args.push_back(copy);
    }
    if (writeResult_ && result != nullptr) {
      V_VT(result) = VT_I4;
      V_I4(result) = 7;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      invocations_.push_back(std::move(invocation));
    }
    if (barrier_ > 0) {
      // Only invocations that overlap in time can all be inside at once.
      if (++inside_ == barrier_) SetEvent(allInside_);
      if (WaitForSingleObject(allInside_, 20000) == WAIT_OBJECT_0) ++metAtBarrier_;
    }
    return S_OK;
  }

  // Every invocation waits until count of them are inside Invoke together.
  void MeetAt(int count) {
    barrier_ = count;
    allInside_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }

  std::vector<Invocation> Invocations() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Invocation> copies;
    for (const Invocation& invocation : invocations_) copies.push_back(Invocation{
        invocation.dispid, invocation.thread, invocation.nullArray, invocation.count, invocation.named, {}});
    return copies;
  }
  const VARIANT& Arg(std::size_t invocation, std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return invocations_.at(invocation).args.at(index);
  }

  long References() const { return references_; }
  int MetAtBarrier() const { return metAtBarrier_; }
  bool writeResult_ = false;

 private:
  bool answersEventInterface_;
  std::atomic<long> references_{1};
  std::mutex mutex_;
  std::vector<Invocation> invocations_;
  int barrier_ = 0;
  std::atomic<int> inside_{0};
  std::atomic<int> metAtBarrier_{0};
  HANDLE allInside_ = nullptr;
};

inline std::wstring ReadValue(const std::wstring& key, const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"(missing)";
  return value;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(registration.Succeeded());
    ASSERT_TRUE(engine.Loaded());
  }
  void TearDown() override {
    engine.ExpectClean();
    CoUninitialize();
  }

  template <typename Interface>
  void Create(const wchar_t* progId, REFIID iid, Ref<Interface>& object) {
    ASSERT_EQ(S_OK, CreateByProgId(progId, iid, object.outVoid())) << "creating " << QuoteText(progId);
    ASSERT_NE(nullptr, object.get());
  }

  TestEngineRegistration registration;
  TestEngine engine;
};

}  // namespace engine_test
