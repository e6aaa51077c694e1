// "transfer.Download": the task methods, the lists and task information a
// test set, and the connection point through which events go out.
#include <olectl.h>

#include <new>

#include "engine/engine_interfaces.h"
#include "tests/test_engine/call_log.h"
#include "tests/test_engine/connection_point.h"
#include "tests/test_engine/dual_object.h"
#include "tests/test_engine/engine_classes.h"
#include "tests/test_engine/holds.h"
#include "tests/test_engine/memory_ledger.h"

namespace {

class Download final : public DualObject<IDownload>, public IConnectionPointContainer, public EventSource {
 public:
  Download() : DualObject(L"Download", IID_IDownload), point_(this, this) {}

  // One IUnknown for all three interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return DualObject::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return DualObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DualObject::Release(); }

  void* FindInterface(REFIID riid) override {
    if (riid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    return DualObject::FindInterface(riid);
  }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"EnumConnectionPoints");
      if (points != nullptr) *points = nullptr;
      call.Proceed();
      return call.End(E_NOTIMPL);
    });
  }

  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"FindConnectionPoint");
      call.Guid(riid);
      if (point == nullptr) return call.End(E_POINTER);
      *point = nullptr;
      if (!call.Proceed(&riid)) return call.End();
      if (riid != DIID_ITaskEvents) return call.End(CONNECT_E_NOCONNECTION);
      InternalAddRef();
      *point = &point_;
      return call.End(S_OK);
    });
  }

  // IDownload
  HRESULT STDMETHODCALLTYPE StartupStep1() override { return Plain(L"StartupStep1"); }

  HRESULT STDMETHODCALLTYPE CreateDownload(BSTR url, BSTR folder, BSTR fileName, BSTR referrer, long connections,
                                           long flags, BYTE* state) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"CreateDownload");
      call.Text(url).Text(folder).Text(fileName).Text(referrer).Signed(connections).Signed(flags)
          .OutNumber(state, false);
      if (!call.Proceed()) return call.End();
      if (state == nullptr) return call.End(E_POINTER);
      if (auto value = behaviour::OutNumber(L"CreateDownload")) *state = static_cast<BYTE>(*value);
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE StopDownload(BSTR key) override { return WithText(L"StopDownload", key); }

  HRESULT STDMETHODCALLTYPE DeleteDownload(BSTR key, long flag) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"DeleteDownload");
      call.Text(key).Signed(flag);
      call.Proceed();
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE GetBlockStatusList(BSTR key, BSTR* text, long* count) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetBlockStatusList");
      call.Text(key).OutText(text).OutNumber(count, true);
      if (!call.Proceed()) return call.End();
      if (text == nullptr || count == nullptr) return call.End(E_POINTER);
      if (auto value = behaviour::OutNumber(L"GetBlockStatusList")) *count = static_cast<long>(*value);
      behaviour::Text value = behaviour::OutText(L"GetBlockStatusList");
      *text = memory_ledger::HandOutText(value ? &*value : nullptr);
      return call.End(value && *text == nullptr ? E_OUTOFMEMORY : S_OK);
    });
  }

  HRESULT STDMETHODCALLTYPE GetResourceSize(BSTR key, long* size) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetResourceSize");
      call.Text(key).OutNumber(size, true);
      return Answer(call, L"GetResourceSize", size);
    });
  }

  HRESULT STDMETHODCALLTYPE Unused13() override { return Placeholder(L"Unused13"); }

  HRESULT STDMETHODCALLTYPE SetCookie(BSTR cookie, long flag) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"SetCookie");
      call.Text(cookie).Signed(flag);
      call.Proceed();
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE ClearCookie() override { return Plain(L"ClearCookie"); }

  HRESULT STDMETHODCALLTYPE GetTotalDownloadSpeed(long* speed) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetTotalDownloadSpeed");
      call.OutNumber(speed, true);
      return Answer(call, L"GetTotalDownloadSpeed", speed);
    });
  }

  HRESULT STDMETHODCALLTYPE GetDownloadingCount(long* count) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"GetDownloadingCount");
      call.OutNumber(count, true);
      return Answer(call, L"GetDownloadingCount", count);
    });
  }

  HRESULT STDMETHODCALLTYPE StartupStep2() override { return Plain(L"StartupStep2"); }
  HRESULT STDMETHODCALLTYPE Unused19() override { return Placeholder(L"Unused19"); }
  HRESULT STDMETHODCALLTYPE Unused20() override { return Placeholder(L"Unused20"); }
  HRESULT STDMETHODCALLTYPE CancelDownload(BSTR key) override { return WithText(L"CancelDownload", key); }
  HRESULT STDMETHODCALLTYPE ImportTask(BSTR task) override { return WithText(L"ImportTask", task); }

  HRESULT STDMETHODCALLTYPE Move(BSTR key, BYTE position) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"Move");
      call.Text(key).Unsigned(position);
      call.Proceed();
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE Unused24() override { return Placeholder(L"Unused24"); }

  HRESULT STDMETHODCALLTYPE ArchiveTask(BYTE connections, BSTR fileName, LONGLONG size, BSTR path, BSTR finalUrl,
                                        BSTR contentType, BSTR key, BSTR url, BSTR created, BSTR finished,
                                        ULONG averageSpeed, BYTE complete, long reserved) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"ArchiveTask");
      call.Unsigned(connections).Text(fileName).Signed(size).Text(path).Text(finalUrl).Text(contentType).Text(key)
          .Text(url).Text(created).Text(finished).Unsigned(averageSpeed).Unsigned(complete).Signed(reserved);
      if (!call.Proceed()) return call.End();
      holds::Pass(holds::Place::ArchiveTask);
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE ListWorkTasks(VARIANT* keys) override { return List(L"ListWorkTasks", keys); }

  HRESULT STDMETHODCALLTYPE QueryTaskInfo(BSTR key, BSTR* url, BSTR* folder, BSTR* fileName, BYTE* state,
                                          LONGLONG* size, LONGLONG* done, ULONG* speed, BSTR* message) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"QueryTaskInfo");
      call.Text(key).OutText(url).OutText(folder).OutText(fileName).OutNumber(state, false).OutNumber(size, true)
          .OutNumber(done, true).OutNumber(speed, false).OutText(message);
      if (!call.Proceed()) return call.End();
      if (!url || !folder || !fileName || !state || !size || !done || !speed || !message) return call.End(E_POINTER);
      if (key == nullptr) return call.End();
      std::optional<behaviour::TaskInfo> info = behaviour::TaskInfoFor(std::wstring(key, SysStringLen(key)));
      if (!info) return call.End();  // no such task: every out stays as preset
      BSTR* texts[] = {url, folder, fileName, message};
      for (int i = 0; i < 4; ++i)
        *texts[i] = memory_ledger::HandOutText(info->texts[i] ? &*info->texts[i] : nullptr);
      if (info->writeState) *state = info->state;
      *size = info->size;
      *done = info->done;
      *speed = info->speed;
      return call.End();
    });
  }

  HRESULT STDMETHODCALLTYPE ListFinishedTasks(VARIANT* texts) override { return List(L"ListFinishedTasks", texts); }

  HRESULT STDMETHODCALLTYPE DeleteDownload2(BSTR key, BSTR path, long flag) override {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), L"DeleteDownload2");
      call.Text(key).Text(path).Signed(flag);
      call.Proceed();
      return call.End();
    });
  }

  // EventSource
  std::vector<IDispatch*> TakeSinks() override { return point_.TakeSinks(); }

 protected:
  void OnDestroy() override {
    uint32_t left = point_.ReleaseAll();
    if (left != 0)
      call_log::Fault(L"Download " + std::to_wstring(Instance()) + L" reached its last Release with " +
                      std::to_wstring(left) + L" sink(s) still advised");
  }
  uint32_t SinkCount() const override { return point_.SinkCount(); }

 private:
  HRESULT WithText(const wchar_t* method, BSTR text) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.Text(text);
      call.Proceed();
      return call.End();
    });
  }

  HRESULT Answer(CallRecord& call, const wchar_t* method, long* value) {
    if (!call.Proceed()) return call.End();
    if (value == nullptr) return call.End(E_POINTER);
    if (auto number = behaviour::OutNumber(method)) *value = static_cast<long>(*number);
    return call.End();
  }

  HRESULT List(const wchar_t* method, VARIANT* out) {
    return ComGuard([&] {
      CallRecord call(this, ClassName(), method);
      call.OutVariant(out);
      if (!call.Proceed()) return call.End();
      if (out == nullptr) return call.End(E_POINTER);
      behaviour::List list = behaviour::OutList(method);
      std::vector<const std::wstring*> items;
      for (const behaviour::Text& item : list.items) items.push_back(item ? &*item : nullptr);
      // An out VARIANT is the callee's to fill: what the caller left there is not freed.
      VariantInit(out);
      SAFEARRAY* array = memory_ledger::HandOutList(items, list.lowerBound);
      if (array == nullptr) return call.End(E_OUTOFMEMORY);
      V_VT(out) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(out) = array;
      return call.End();
    });
  }

  ConnectionPoint point_;
};

}  // namespace

HRESULT CreateDownload(REFIID riid, void** out, uint32_t* instance) {
  return CreateEngineObject<Download>(riid, out, instance);
}
