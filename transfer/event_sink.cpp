#include "transfer/event_sink.h"

#include <comdef.h>

#include "engine/engine_call.h"
#include "script/conversions.h"
#include "transfer/message_format.h"
#include "transfer/message_relay.h"
#include "transfer/task_event.h"

namespace {

// How long the instance waits at shut-down for an event still running on an engine thread.
const DWORD kDrainTimeoutMs = 10000;

}  // namespace

HalvoPlugin::CSink::CSink(HalvoPlugin* owner, std::shared_ptr<PageMessageRelay> relay, DWORD pluginThread)
    : owner(owner), relay_(std::move(relay)), pluginThread_(pluginThread) {}

HalvoPlugin::CSink::~CSink() = default;

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  // Only what the sink is: answering yes for other interfaces (the marshaller
  // asks for several) would send calls to slots it does not have.
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_ITaskEvents)) {
    *ppvObject = static_cast<IDispatch*>(this);
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE HalvoPlugin::CSink::AddRef() { return 1; }

ULONG STDMETHODCALLTYPE HalvoPlugin::CSink::Release() { return 0; }

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                                    EXCEPINFO*, UINT*) {
  const bool otherThread = GetCurrentThreadId() != pluginThread_;
  if (otherThread) ++otherThreadEvents_;
  try {
    // Fewer than 24 arguments, or none: ignored.
    if (std::optional<TaskEvent> event = ReadTaskEvent(pDispParams)) Handle(*event);
  } catch (...) {
  }
  if (otherThread) --otherThreadEvents_;
  return S_OK;
}

void HalvoPlugin::CSink::Handle(const TaskEvent& event) {
  if (event.kind == 0 || event.kind == 3 || event.state == 5) {
    owner->StoreTask(event.Record());
    if (event.kind == 0) return;
  } else if (event.kind == 5) {
    owner->RemoveTask(event.Key());
    Archive(event);
  }
  // Posted by the plug-in thread, in event order; the store was updated here.
  relay_->Deliver(FormatEventMessage(event));
}

void HalvoPlugin::CSink::Archive(const TaskEvent& event) {
  if (owner->download == nullptr) return;
  try {
    EngineCall(owner->download, &IDownload::ArchiveTask, static_cast<BYTE>(event.number17),
               WideToBstr(event.Text(4).c_str()).Get(), static_cast<LONGLONG>(event.number22),
               WideToBstr(event.Text(10).c_str()).Get(), WideToBstr(event.Text(11).c_str()).Get(),
               WideToBstr(event.Text(12).c_str()).Get(), WideToBstr(event.Key().c_str()).Get(),
               WideToBstr(event.Text(3).c_str()).Get(), WideToBstr(event.Text(8).c_str()).Get(),
               WideToBstr(event.Text(9).c_str()).Get(), static_cast<ULONG>(event.number21),
               static_cast<BYTE>(event.number18), 0L);
  } catch (const _com_error&) {
    // A failed archive is the engine's; the page still hears of the event.
  }
}

void HalvoPlugin::CSink::WaitForOtherThreads() {
  DWORD start = GetTickCount();
  while (otherThreadEvents_.load() > 0 && GetTickCount() - start < kDrainTimeoutMs) Sleep(1);
}
