// Engine events: the sinks advised on the Download objects' connection
// points, and the engine's own thread that delivers events (TaskEvent,
// engine/task_event.h) to them in the order they were posted and runs the
// engine's periodic work between deliveries.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/task_event.h"

namespace engine {

class EventHub {
 public:
  HRESULT Advise(const void* owner, IUnknown* sink, DWORD* cookie);
  HRESULT Unadvise(const void* owner, DWORD cookie);
  // The owner goes away: its sinks are released.
  void DropOwner(const void* owner);

  void Post(TaskEvent event);

  // Starts the delivering thread; tick runs on it about every 250 ms.
  bool Start(std::function<void()> tick);
  // Ends the thread; events not yet delivered are dropped.
  void Stop();

 private:
  struct Connection {
    DWORD cookie;
    const void* owner;
    IDispatch* sink;
  };
  void Run(uint64_t generation);
  void Remove(std::unique_lock<std::mutex>& hold, size_t index);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TaskEvent> queue_;
  std::vector<Connection> connections_;
  DWORD nextCookie_ = 1;
  DWORD busyCookie_ = 0;
  DWORD threadId_ = 0;
  HANDLE thread_ = nullptr;
  uint64_t generation_ = 0;
  bool running_ = false;
  std::function<void()> tick_;
};

}  // namespace engine
