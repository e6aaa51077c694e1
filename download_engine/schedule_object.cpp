#include "download_engine/schedule_object.h"

namespace engine {

ScheduleObject::ScheduleObject() : errorInfo_(this, IID_ISchedule) {}

ScheduleObject::~ScheduleObject() {
  if (started_.exchange(false)) Engine::Instance().ScheduleStopped();
}

HRESULT ScheduleObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ISchedule)) {
    *object = static_cast<ISchedule*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *object = &errorInfo_;
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ScheduleObject::Release() {
  ULONG count = life_.Release();
  if (count == 0) delete this;
  return count;
}

HRESULT ScheduleObject::StartupStep1() {
  return Guard(IID_ISchedule, [&]() -> HRESULT { return Report(Engine::Instance().Open(), IID_ISchedule); });
}

HRESULT ScheduleObject::StartupStep2() {
  return Guard(IID_ISchedule, [&]() -> HRESULT {
    Status status = Engine::Instance().Open();
    if (status.Failed()) return Report(status, IID_ISchedule);
    if (!started_.exchange(true)) Engine::Instance().ScheduleStarted();
    return S_OK;
  });
}

HRESULT ScheduleObject::ShutdownStep() {
  return Guard(IID_ISchedule, [&]() -> HRESULT {
    if (started_.exchange(false)) Engine::Instance().ScheduleStopped();
    return S_OK;
  });
}

}  // namespace engine
