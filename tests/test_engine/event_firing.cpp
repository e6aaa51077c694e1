#include "tests/test_engine/event_firing.h"

#include <olectl.h>
#include <oleauto.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "tests/test_engine/connection_point.h"
#include "tests/test_engine/engine_object.h"
#include "tests/test_engine/holds.h"

namespace {

constexpr unsigned char kUntouched = 0xA5;

template <typename Value>
void Fill(Value* value) {
  std::memset(value, kUntouched, sizeof *value);
}

template <typename Value>
bool Touched(const Value& value) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
  for (std::size_t i = 0; i < sizeof value; ++i)
    if (bytes[i] != kUntouched) return true;
  return false;
}

// What a sink wrote where it should not have is freed as far as it can be trusted.
void FreeWritten(VARIANT* result, bool resultWritten, EXCEPINFO* exception, bool exceptionWritten) {
  if (resultWritten) VariantClear(result);
  if (exceptionWritten) {
    BSTR untouched;
    std::memset(&untouched, kUntouched, sizeof untouched);
    for (BSTR text : {exception->bstrSource, exception->bstrDescription, exception->bstrHelpFile})
      if (text != untouched) SysFreeString(text);
  }
}

EventSource* FindSource(uint32_t download) {
  EngineObject* object =
      download == 0 ? object_table::NewestLive(L"Download") : object_table::Find(L"Download", download);
  return object != nullptr ? dynamic_cast<EventSource*>(object) : nullptr;
}

thread_local bool onWorker = false;

struct Worker {
  uint32_t ticket;
  TestEngineEvent event;
  std::vector<VARIANT> args;  // the worker's own copy
  bool nullArgs;
  HANDLE thread = nullptr;
  HRESULT fired = E_PENDING;
  TestEngineFireResult result{};
};

struct Workers {
  std::mutex mutex;
  std::vector<std::unique_ptr<Worker>> all;
  uint32_t nextTicket = 1;
  HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // set: workers go
};

Workers& TheWorkers() {
  static Workers* workers = new Workers;
  return *workers;
}

DWORD WINAPI RunWorker(void* parameter) {
  Worker* worker = static_cast<Worker*>(parameter);
  onWorker = true;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  WaitForSingleObject(TheWorkers().gate, INFINITE);
  TestEngineEvent event = worker->event;
  event.args = worker->nullArgs ? nullptr : worker->args.data();
  try {
    worker->fired = event_firing::Fire(event, &worker->result);
  } catch (...) {
    worker->fired = E_OUTOFMEMORY;
  }
  for (VARIANT& value : worker->args)
    if (V_VT(&value) == VT_BSTR) SysFreeString(V_BSTR(&value));
  CoUninitialize();
  return 0;
}

}  // namespace

namespace event_firing {

HRESULT Fire(const TestEngineEvent& event, TestEngineFireResult* result) {
  TestEngineFireResult summary{};
  summary.thread = GetCurrentThreadId();
  summary.result = S_OK;
  EventSource* source = FindSource(event.download);
  if (source == nullptr) return E_INVALIDARG;
  std::vector<IDispatch*> sinks = source->TakeSinks();
  // An engine that took its sinks may call them after they were unadvised.
  if (onWorker) holds::Pass(holds::Place::Invoke);
  DISPPARAMS params{const_cast<VARIANT*>(event.args), nullptr, event.argCount, 0};
  for (IDispatch* sink : sinks) {
    VARIANT returned;
    EXCEPINFO exception;
    UINT argError;
    Fill(&returned);
    Fill(&exception);
    Fill(&argError);
    summary.result = sink->Invoke(event.dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &returned, &exception,
                                  &argError);
    bool resultWritten = Touched(returned), exceptionWritten = Touched(exception);
    summary.resultWritten |= resultWritten;
    summary.exceptionWritten |= exceptionWritten;
    summary.argErrorWritten |= Touched(argError);
    FreeWritten(&returned, resultWritten, &exception, exceptionWritten);
    sink->Release();
    ++summary.sinks;
  }
  if (result != nullptr) *result = summary;
  return sinks.empty() ? CONNECT_E_NOCONNECTION : S_OK;
}

uint32_t FireOnWorker(const TestEngineEvent& event) {
  auto worker = std::make_unique<Worker>();
  worker->event = event;
  worker->nullArgs = event.args == nullptr;
  if (!worker->nullArgs) {
    worker->args.assign(event.args, event.args + event.argCount);
    for (VARIANT& value : worker->args)
      if (V_VT(&value) == VT_BSTR && V_BSTR(&value) != nullptr)
        V_BSTR(&value) = SysAllocStringLen(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  }
  Workers& workers = TheWorkers();
  std::lock_guard<std::mutex> lock(workers.mutex);
  worker->ticket = workers.nextTicket++;
  worker->thread = CreateThread(nullptr, 0, RunWorker, worker.get(), 0, nullptr);
  if (worker->thread == nullptr) {
    for (VARIANT& value : worker->args)
      if (V_VT(&value) == VT_BSTR) SysFreeString(V_BSTR(&value));
    return 0;
  }
  uint32_t ticket = worker->ticket;
  workers.all.push_back(std::move(worker));
  return ticket;
}

void HoldWorkers(bool hold) {
  if (hold)
    ResetEvent(TheWorkers().gate);
  else
    SetEvent(TheWorkers().gate);
}

bool WaitForWorkers(DWORD timeoutMilliseconds) {
  std::vector<HANDLE> threads;
  {
    Workers& workers = TheWorkers();
    std::lock_guard<std::mutex> lock(workers.mutex);
    for (auto& worker : workers.all) threads.push_back(worker->thread);
  }
  DWORD start = GetTickCount();
  for (HANDLE thread : threads) {
    DWORD spent = GetTickCount() - start;
    DWORD left = timeoutMilliseconds == INFINITE ? INFINITE
                 : spent >= timeoutMilliseconds  ? 0
                                                 : timeoutMilliseconds - spent;
    if (WaitForSingleObject(thread, left) != WAIT_OBJECT_0) return false;
  }
  return true;
}

bool WorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result) {
  Workers& workers = TheWorkers();
  std::lock_guard<std::mutex> lock(workers.mutex);
  for (auto& worker : workers.all) {
    if (worker->ticket != ticket) continue;
    if (WaitForSingleObject(worker->thread, 0) != WAIT_OBJECT_0) return false;
    if (fired != nullptr) *fired = worker->fired;
    if (result != nullptr) *result = worker->result;
    return true;
  }
  return false;
}

void Reset() {
  HoldWorkers(false);
  holds::Reset();
  WaitForWorkers(INFINITE);
  Workers& workers = TheWorkers();
  std::lock_guard<std::mutex> lock(workers.mutex);
  for (auto& worker : workers.all) CloseHandle(worker->thread);
  workers.all.clear();
  workers.nextTicket = 1;
}

}  // namespace event_firing
