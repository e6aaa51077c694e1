#include "download_engine/event_hub.h"

#include <olectl.h>

#include <chrono>

#include "download_engine/module_state.h"
#include "download_engine/text.h"

namespace engine {

namespace {

// Waits for an invocation on another thread to return, letting messages sent
// to this thread through meanwhile.
void WaitWhileBusy(std::unique_lock<std::mutex>& hold, const DWORD& busy, DWORD cookie) {
  while (busy == cookie) {
    hold.unlock();
    HANDLE self = GetCurrentThread();
    MsgWaitForMultipleObjects(0, &self, FALSE, 10, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    hold.lock();
  }
}

}  // namespace

HRESULT EventHub::Advise(const void* owner, IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || dispatch == nullptr)
    return CONNECT_E_CANNOTCONNECT;
  std::lock_guard<std::mutex> hold(mutex_);
  Connection connection{nextCookie_++, owner, dispatch};
  if (nextCookie_ == 0) nextCookie_ = 1;
  connections_.push_back(connection);
  *cookie = connection.cookie;
  return S_OK;
}

void EventHub::Remove(std::unique_lock<std::mutex>& hold, size_t index) {
  Connection connection = connections_[index];
  connections_.erase(connections_.begin() + static_cast<long>(index));
  // The sink may be destroyed as soon as this returns: an event being
  // delivered to it on the engine's thread must have returned first.
  if (GetCurrentThreadId() != threadId_) WaitWhileBusy(hold, busyCookie_, connection.cookie);
  hold.unlock();
  connection.sink->Release();
  hold.lock();
}

HRESULT EventHub::Unadvise(const void* owner, DWORD cookie) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (size_t i = 0; i < connections_.size(); ++i) {
    if (connections_[i].cookie == cookie && connections_[i].owner == owner) {
      Remove(hold, i);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

void EventHub::DropOwner(const void* owner) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (size_t i = 0; i < connections_.size();) {
    if (connections_[i].owner == owner) Remove(hold, i);
    else ++i;
  }
}

void EventHub::Post(TaskEvent event) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!running_) return;
  queue_.push_back(std::move(event));
  wake_.notify_one();
}

bool EventHub::Start(std::function<void()> tick) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (running_) return true;
  uint64_t generation = ++generation_;
  tick_ = std::move(tick);
  running_ = true;
  HANDLE thread = StartModuleThread([this, generation] { Run(generation); });
  if (thread == nullptr) {
    running_ = false;
    return false;
  }
  if (thread_) CloseHandle(thread_);
  thread_ = thread;
  threadId_ = GetThreadId(thread);
  return true;
}

void EventHub::Stop() {
  HANDLE thread;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!running_) return;
    running_ = false;
    ++generation_;
    queue_.clear();
    wake_.notify_all();
    thread = thread_;
    thread_ = nullptr;
  }
  if (thread == nullptr) return;
  // A sink that never returns must not hold the caller forever; the thread
  // pins the module and ends on its own once the sink returns.
  if (GetThreadId(thread) != GetCurrentThreadId()) WaitDeliveringSentMessages(thread, 5000);
  CloseHandle(thread);
}

void EventHub::Run(uint64_t generation) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  auto lastTick = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> hold(mutex_);
  while (generation_ == generation) {
    auto now = std::chrono::steady_clock::now();
    if (now - lastTick >= std::chrono::milliseconds(250)) {
      lastTick = now;
      auto tick = tick_;
      hold.unlock();
      try {
        if (tick) tick();
      } catch (...) {
        // The periodic work is tried again at the next tick.
      }
      hold.lock();
      continue;
    }
    if (queue_.empty()) {
      wake_.wait_until(hold, lastTick + std::chrono::milliseconds(250));
      continue;
    }
    TaskEvent event = std::move(queue_.front());
    queue_.pop_front();
    std::vector<Connection> targets;
    try {
      targets = connections_;
    } catch (...) {
      continue;  // out of memory: this event is lost, the next may go
    }
    hold.unlock();

    VARIANT args[task_event::kCount];
    WriteTaskEvent(event, args);
    for (const auto& target : targets) {
      // A sink unadvised meanwhile may be gone already: touch it only while
      // it is still connected, and let Unadvise wait for the call to return.
      hold.lock();
      bool connected = false;
      for (const auto& connection : connections_) connected = connected || connection.cookie == target.cookie;
      if (!connected || generation_ != generation) {
        hold.unlock();
        continue;
      }
      busyCookie_ = target.cookie;
      target.sink->AddRef();
      hold.unlock();
      DISPPARAMS parameters = {args, nullptr, task_event::kCount, 0};
      VARIANT result;
      VariantInit(&result);
      EXCEPINFO exception = {};
      UINT argumentError = 0;
      target.sink->Invoke(task_event::kDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                          &exception, &argumentError);
      VariantClear(&result);
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
      target.sink->Release();
      hold.lock();
      busyCookie_ = 0;
      hold.unlock();
    }
    for (auto& value : args) VariantClear(&value);
    hold.lock();
  }
  hold.unlock();
  CoUninitialize();
}

}  // namespace engine
