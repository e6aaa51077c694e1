#include "tests/support/engine_events.h"

#include <algorithm>
#include <chrono>

std::string StateText(uint8_t state) {
  static const char* const kNames[] = {"queued",     "connecting", "downloading", "stopped", "failed",
                                       "completing", "completed",  "cancelled",   "removed"};
  return state < 9 ? std::string(kNames[state]) + " (" + std::to_string(state) + ")" : std::to_string(state);
}

EventCollector::EventCollector() = default;

HRESULT EventCollector::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID_ITaskEvents)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG EventCollector::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG EventCollector::Release() {
  ULONG count = static_cast<ULONG>(--refs_);
  if (count == 0) delete this;
  return count;
}

HRESULT EventCollector::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT EventCollector::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT EventCollector::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

void EventCollector::ArchiveThrough(IDownload* download) {
  std::lock_guard<std::mutex> hold(mutex_);
  archive_ = download;
}

HRESULT EventCollector::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                               UINT*) {
  std::vector<std::string> faults;
  if (id != 1) faults.push_back("event dispatch id " + std::to_string(id) + ", expected 1");
  if (!(flags & DISPATCH_METHOD)) faults.push_back("event not invoked as a method");
  if (parameters == nullptr || parameters->cArgs != task_event::kCount || parameters->rgvarg == nullptr) {
    std::lock_guard<std::mutex> hold(mutex_);
    faults_.push_back("event with " + std::to_string(parameters ? parameters->cArgs : 0) + " arguments, expected " +
                      std::to_string(task_event::kCount));
    arrived_.notify_all();
    return S_OK;
  }
  if (parameters->cNamedArgs != 0) faults.push_back("event with named arguments");
  const VARIANT* a = parameters->rgvarg;
  for (const task_event::Field& field : task_event::kFields) {
    if (a[field.position].vt != field.type)
      faults.push_back("argument " + std::to_string(field.position) + " (" + field.name + ") has VARTYPE " +
                       std::to_string(a[field.position].vt) + ", expected " + std::to_string(field.type));
  }
  EngineEvent event;
  static_cast<TaskEvent&>(event) = *ReadTaskEvent(parameters, EventTexts::Whole);
  event.thread = GetCurrentThreadId();
  event.atMs = GetTickCount64();

  IDownload* archive;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    archive = archive_;
  }
  // What a page's sink does for kind 5 (with state other than 5): the values back to ArchiveTask.
  if (archive && event.kind == task_event::kKindFinished && event.state != task_event::kStateCompleting) {
    HRESULT result = ArchiveTaskEvent(archive, event);
    std::lock_guard<std::mutex> hold(mutex_);
    archiveResults_.push_back(result);
  }
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& fault : faults) faults_.push_back(fault);
  events_.push_back(event);
  arrived_.notify_all();
  return S_OK;
}

std::vector<EngineEvent> EventCollector::Events() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return events_;
}

std::vector<EngineEvent> EventCollector::EventsFor(const std::wstring& key) const {
  std::vector<EngineEvent> result;
  for (const auto& event : Events())
    if (event.key == key) result.push_back(event);
  return result;
}

std::vector<std::string> EventCollector::Faults() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return faults_;
}

std::vector<HRESULT> EventCollector::ArchiveResults() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return archiveResults_;
}

bool EventCollector::WaitFor(const std::function<bool(const std::vector<EngineEvent>&)>& done, DWORD timeoutMs) const {
  // Checked on every event and every 50 ms: a predicate may also look at files or counters.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    if (done(events_)) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    arrived_.wait_until(hold, std::min(deadline, now + std::chrono::milliseconds(50)));
  }
}

EngineEvent EventCollector::WaitForState(const std::wstring& key, uint8_t state, DWORD timeoutMs) const {
  EngineEvent found;
  WaitFor(
      [&](const std::vector<EngineEvent>& events) {
        for (const auto& event : events) {
          if (event.key == key && event.state == state) {
            found = event;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

EngineEvent EventCollector::WaitForFinish(const std::wstring& key, DWORD timeoutMs) const {
  EngineEvent found;
  WaitFor(
      [&](const std::vector<EngineEvent>& events) {
        for (const auto& event : events) {
          if (event.key == key && event.kind == 5) {
            found = event;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}
