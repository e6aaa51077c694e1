#include "transfer/event_sink.h"

#include <comdef.h>

#include "script/com_error.h"
#include "transfer/message_format.h"
#include "transfer/message_relay.h"
#include "transfer/task_event.h"

HalvoPlugin::CSink::CSink(HalvoPlugin* owner, std::shared_ptr<PageMessageRelay> relay, DWORD pluginThread)
    : owner_(owner), relay_(std::move(relay)), pluginThread_(pluginThread) {}

HalvoPlugin::CSink::~CSink() = default;

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  // Only what the sink is: answering yes for other interfaces (the marshaller
  // asks for several) would send calls to slots it does not have.
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_ITaskEvents)) {
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE HalvoPlugin::CSink::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE HalvoPlugin::CSink::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HalvoPlugin::CSink::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                                    EXCEPINFO*, UINT*) {
  const bool otherThread = GetCurrentThreadId() != pluginThread_;
  // The sink outlives this call even if the instance lets go of it meanwhile.
  AddRef();
  bool attached = false;
  try {
    std::lock_guard<std::mutex> guard(mutex_);
    attached = !detached_;
    if (attached && otherThread) ++otherThreadEvents_;
  } catch (...) {
  }
  if (attached) {
    try {
      // Fewer than 24 arguments, or none: ignored.
      if (std::optional<TaskEvent> event = ReadTaskEvent(pDispParams)) Handle(*event);
    } catch (...) {
    }
    if (otherThread) {
      std::lock_guard<std::mutex> guard(mutex_);
      if (--otherThreadEvents_ == 0) idle_.notify_all();
    }
  }
  Release();
  return S_OK;
}

void HalvoPlugin::CSink::Handle(const TaskEvent& event) {
  using namespace task_event;
  if (event.kind == kKindRecord || event.kind == kKindTask || event.state == kStateCompleting) {
    owner_->StoreTask(RecordOf(event));
    if (event.kind == kKindRecord) return;
  } else if (event.kind == kKindFinished) {
    owner_->RemoveTask(event.key);
    Archive(event);
  }
  // Posted by the plug-in thread, in event order; the store was updated here.
  // Nothing of the instance is touched after this: posting may re-enter the
  // page, which may end the instance.
  relay_->Deliver(FormatEventMessage(event));
}

void HalvoPlugin::CSink::Archive(const TaskEvent& event) {
  IDownload* download = owner_->download;
  if (download == nullptr) return;
  try {
    HRESULT archived = ArchiveTaskEvent(download, event);
    if (archived < 0) RaiseComError(archived, download, IID_IDownload);
  } catch (const _com_error&) {
    // A failed archive is the engine's; the page still hears of the event.
  }
}

void HalvoPlugin::CSink::Detach() {
  std::unique_lock<std::mutex> guard(mutex_);
  detached_ = true;
  // No bound: the engine objects are released only after this, and an event
  // still inside may be using them and the task store.
  idle_.wait(guard, [this] { return otherThreadEvents_ == 0; });
}
