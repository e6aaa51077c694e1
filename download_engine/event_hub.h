// Engine events: the TaskEvent with its 24 arguments, the sinks advised on the
// Download objects' connection points, and the engine's own thread that
// delivers events to them in the order they were posted and runs the
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

namespace engine {

// One event; each member is named after its meaning and carries its argument
// index (DISPPARAMS order: index k is declared parameter 24 - k).
struct TaskEvent {
  uint8_t kind = 0;            // 0
  std::wstring folder;         // 1
  std::wstring key;            // 2
  std::wstring url;            // 3
  std::wstring fileName;       // 4
  std::wstring referrer;       // 5
  std::wstring validator;      // 6
  std::wstring partialPath;    // 7
  std::wstring created;        // 8
  std::wstring finished;       // 9
  std::wstring path;           // 10
  std::wstring finalUrl;       // 11
  std::wstring contentType;    // 12
  std::wstring message;        // 13
  uint32_t queuePosition = 0;  // 14
  std::wstring stateName;      // 15
  double percent = 0;          // 16
  uint8_t connections = 0;     // 17
  uint8_t complete = 0;        // 18
  uint8_t state = 0;           // 19
  int32_t errorCode = 0;       // 20
  uint32_t speed = 0;          // 21
  int64_t size = -1;           // 22
  int64_t done = 0;            // 23
};

// Kinds.
constexpr uint8_t kEventRecord = 0;    // silent update of the task's record
constexpr uint8_t kEventTask = 3;      // the task changed: state, progress or details
constexpr uint8_t kEventFinished = 5;  // the task left the work list (completed or removed)

constexpr DISPID kTaskEventDispId = 1;
constexpr unsigned kTaskEventArguments = 24;

// Fills args[0..23] (VARIANTs the caller clears) from the event.
void BuildEventArguments(const TaskEvent& event, VARIANT* args);

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
