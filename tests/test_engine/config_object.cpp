// "transfer.Config": setters that only record what they are given, getters
// that answer the out values a test set.
#include <new>

#include "engine/engine_interfaces.h"
#include "tests/test_engine/dual_object.h"
#include "tests/test_engine/engine_classes.h"
#include "tests/test_engine/memory_ledger.h"

namespace {

class Config final : public DualObject<IConfig> {
 public:
  Config() : DualObject(L"Config", IID_IConfig) {}

  HRESULT STDMETHODCALLTYPE SetProxy(BSTR host, long port, BSTR user, BSTR password, BSTR domain,
                                     BSTR kind) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"SetProxy");
      call.Text(host).Signed(port).Text(user).Text(password).Text(domain).Text(kind);
      call.Proceed();
      return call.End();
    });
  }
  HRESULT STDMETHODCALLTYPE Unused8() override { return Placeholder(L"Unused8"); }
  HRESULT STDMETHODCALLTYPE SetUPnP(long flag) override { return Set(L"SetUPnP", flag); }
  HRESULT STDMETHODCALLTYPE GetUPnP(long* flag) override { return Get(L"GetUPnP", flag); }
  HRESULT STDMETHODCALLTYPE SetLimitSpeed(long download, long upload) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"SetLimitSpeed");
      call.Signed(download).Signed(upload);
      call.Proceed();
      return call.End();
    });
  }
  HRESULT STDMETHODCALLTYPE GetLimitSpeed(BYTE which, long* speed) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetLimitSpeed");
      call.Unsigned(which).OutNumber(speed, true);
      return Answer(call, L"GetLimitSpeed", speed);
    });
  }
  HRESULT STDMETHODCALLTYPE SetDiskCache(long size) override { return Set(L"SetDiskCache", size); }
  HRESULT STDMETHODCALLTYPE GetDiskCache(long* size) override { return Get(L"GetDiskCache", size); }
  HRESULT STDMETHODCALLTYPE SetMaxDownloadCount(long count) override { return Set(L"SetMaxDownloadCount", count); }
  HRESULT STDMETHODCALLTYPE GetMaxDownloadCount(long* count) override { return Get(L"GetMaxDownloadCount", count); }
  HRESULT STDMETHODCALLTYPE SetAutoStart(long flag) override { return Set(L"SetAutoStart", flag); }
  HRESULT STDMETHODCALLTYPE GetAutoStart(long* flag) override { return Get(L"GetAutoStart", flag); }
  HRESULT STDMETHODCALLTYPE SetUDPPort(long port) override { return Set(L"SetUDPPort", port); }
  HRESULT STDMETHODCALLTYPE GetUDPPort(long* port) override { return Get(L"GetUDPPort", port); }
  HRESULT STDMETHODCALLTYPE SetDownloadSingleThread(long flag) override {
    return Set(L"SetDownloadSingleThread", flag);
  }
  HRESULT STDMETHODCALLTYPE GetDownloadSingleThread(long* flag) override {
    return Get(L"GetDownloadSingleThread", flag);
  }
  HRESULT STDMETHODCALLTYPE GetPeerID(BSTR* peerId) override { return GetText(L"GetPeerID", peerId); }
  HRESULT STDMETHODCALLTYPE GetIP(BSTR* address) override { return GetText(L"GetIP", address); }
  HRESULT STDMETHODCALLTYPE SetClientVersion(BSTR version) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"SetClientVersion");
      call.Text(version);
      call.Proceed();
      return call.End();
    });
  }

 private:
  HRESULT Set(const wchar_t* method, long value) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.Signed(value);
      call.Proceed();
      return call.End();
    });
  }

  HRESULT Get(const wchar_t* method, long* value) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.OutNumber(value, true);
      return Answer(call, method, value);
    });
  }

  HRESULT Answer(CallRecord& call, const wchar_t* method, long* value) {
    if (!call.Proceed()) return call.End();
    if (value == nullptr) return call.End(E_POINTER);
    if (auto number = behaviour::OutNumber(method)) *value = static_cast<long>(*number);
    return call.End();
  }

  HRESULT GetText(const wchar_t* method, BSTR* text) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.OutText(text);
      if (!call.Proceed()) return call.End();
      if (text == nullptr) return call.End(E_POINTER);
      behaviour::Text value = behaviour::OutText(method);
      *text = memory_ledger::HandOutText(value ? &*value : nullptr);
      if (value && *text == nullptr) return call.End(E_OUTOFMEMORY);
      return call.End();
    });
  }
};

}  // namespace

HRESULT CreateConfig(REFIID riid, void** out, uint32_t* instance) {
  return CreateEngineObject<Config>(riid, out, instance);
}
