#include "tests/test_engine/event_firing.h"

#include <olectl.h>
#include <oleauto.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
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

void FreeArgs(std::vector<VARIANT>& args) {
  for (VARIANT& value : args)
    if (V_VT(&value) == VT_BSTR) SysFreeString(V_BSTR(&value));
  args.clear();
}

// One event handed to the workers.
struct Job {
  Job() = default;
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  ~Job() { FreeArgs(args); }
  uint32_t ticket = 0;
  TestEngineEvent event{};
  std::vector<VARIANT> args;  // the job's own copy; its texts are freed once it has run
  bool nullArgs = true;
  bool done = false;
  HRESULT fired = E_PENDING;
  TestEngineFireResult result{};
};

// Worker threads are reused: every event still gets a thread to itself while
// it runs (a new one starts when none is idle), but a test firing a thousand
// events does not pay for a thousand thread starts, which are slow under
// emulation.
struct Workers {
  std::mutex mutex;
  std::condition_variable changed;  // a job queued or finished, or the workers told to quit
  std::vector<std::unique_ptr<Job>> jobs;
  std::deque<Job*> queued;
  std::vector<HANDLE> threads;
  std::size_t idle = 0, unfinished = 0;
  bool quitting = false;
  bool broken = false;  // a worker ended on a failed wait: its jobs may never run
  uint32_t nextTicket = 1;
  HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // set: workers go
};

Workers& TheWorkers() {
  static Workers* workers = new Workers;
  return *workers;
}

void RunJob(Job& job) {
  WaitForSingleObject(TheWorkers().gate, INFINITE);
  TestEngineEvent event = job.event;
  event.args = job.nullArgs ? nullptr : job.args.data();
  try {
    job.fired = event_firing::Fire(event, &job.result);
  } catch (...) {
    job.fired = E_OUTOFMEMORY;
  }
  FreeArgs(job.args);
}

void ServeJobs(Workers& workers) {
  std::unique_lock<std::mutex> lock(workers.mutex);
  for (;;) {
    {
      // Counted idle while it waits, however the wait ends (it holds the lock again then).
      struct Idle {
        std::size_t& count;
        explicit Idle(std::size_t& c) : count(c) { ++count; }
        ~Idle() { --count; }
      } idle(workers.idle);
      workers.changed.wait(lock, [&] { return workers.quitting || !workers.queued.empty(); });
    }
    if (workers.queued.empty()) return;
    Job* job = workers.queued.front();
    workers.queued.pop_front();
    lock.unlock();
    RunJob(*job);
    lock.lock();
    job->done = true;
    --workers.unfinished;
    workers.changed.notify_all();
  }
}

DWORD WINAPI RunWorker(void*) {
  onWorker = true;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  DWORD code = 0;
  try {
    ServeJobs(TheWorkers());
  } catch (...) {
    // A lock or wait that failed: this worker ends, the process goes on and
    // the waits for the workers end, reporting it.
    Workers& workers = TheWorkers();
    try {
      std::lock_guard<std::mutex> lock(workers.mutex);
      workers.broken = true;
    } catch (...) {
    }
    workers.changed.notify_all();
    code = 1;
  }
  CoUninitialize();
  return code;
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
  auto job = std::make_unique<Job>();
  job->event = event;
  job->nullArgs = event.args == nullptr;
  if (!job->nullArgs) {
    job->args.reserve(event.argCount);
    for (UINT i = 0; i < event.argCount; ++i) {
      VARIANT value = event.args[i];
      if (V_VT(&value) == VT_BSTR && V_BSTR(&value) != nullptr)
        V_BSTR(&value) = SysAllocStringLen(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
      job->args.push_back(value);
    }
  }
  Workers& workers = TheWorkers();
  std::lock_guard<std::mutex> lock(workers.mutex);
  // Room first: once the job is kept and queued and its thread started,
  // nothing may fail half-way (a queued job its owner dropped, a thread no
  // reset waits for).
  workers.jobs.reserve(workers.jobs.size() + 1);
  workers.threads.reserve(workers.threads.size() + 1);
  workers.queued.push_back(job.get());
  workers.jobs.push_back(std::move(job));
  Job& kept = *workers.jobs.back();
  // Queued jobs wait for idle workers; a job beyond them needs a new thread.
  if (workers.idle < workers.queued.size()) {
    HANDLE thread = CreateThread(nullptr, 0, RunWorker, nullptr, 0, nullptr);
    if (thread == nullptr) {
      workers.queued.pop_back();
      workers.jobs.pop_back();
      return 0;
    }
    workers.threads.push_back(thread);
  }
  kept.ticket = workers.nextTicket++;
  ++workers.unfinished;
  workers.changed.notify_all();
  return kept.ticket;
}

void HoldWorkers(bool hold) {
  if (hold)
    ResetEvent(TheWorkers().gate);
  else
    SetEvent(TheWorkers().gate);
}

bool WaitForWorkers(DWORD timeoutMilliseconds) {
  Workers& workers = TheWorkers();
  std::unique_lock<std::mutex> lock(workers.mutex);
  auto allDone = [&] { return workers.unfinished == 0 || workers.broken; };
  if (timeoutMilliseconds == INFINITE)
    workers.changed.wait(lock, allDone);
  else
    workers.changed.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds), allDone);
  return workers.unfinished == 0;
}

bool WorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result) {
  Workers& workers = TheWorkers();
  std::lock_guard<std::mutex> lock(workers.mutex);
  for (auto& job : workers.jobs) {
    if (job->ticket != ticket) continue;
    if (!job->done) return false;
    if (fired != nullptr) *fired = job->fired;
    if (result != nullptr) *result = job->result;
    return true;
  }
  return false;
}

void Reset() {
  HoldWorkers(false);
  holds::Reset();
  WaitForWorkers(INFINITE);
  Workers& workers = TheWorkers();
  std::vector<HANDLE> threads;
  {
    std::lock_guard<std::mutex> lock(workers.mutex);
    workers.quitting = true;
    workers.changed.notify_all();
    threads.swap(workers.threads);
  }
  // The threads end before the next test, so none runs while the module that
  // loaded this engine goes away.
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  std::lock_guard<std::mutex> lock(workers.mutex);
  workers.quitting = false;
  workers.broken = false;
  workers.queued.clear();
  workers.unfinished = 0;
  workers.jobs.clear();
  workers.nextTicket = 1;
}

}  // namespace event_firing
