// The task commands of the Download object: create (again), stop, cancel,
// delete, move and import tasks, set and clear cookies, and the queries of a
// task or of the whole list. A page's input is checked into the task here;
// a task that fails a check stays in the list, failed with the reason.
//
// It has no lock of its own: every call is made under the engine's one lock,
// with the session open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download_engine/engine_events.h"
#include "download_engine/scheduler.h"
#include "download_engine/session.h"
#include "download_engine/status.h"
#include "download_engine/task.h"

namespace engine {

struct TaskInfo {
  std::wstring url;
  std::wstring folder;
  std::wstring fileName;
  std::wstring message;
  uint8_t state = 0;
  int64_t size = -1;
  int64_t done = 0;
  uint32_t speed = 0;
};

class TaskCommands {
 public:
  TaskCommands(EngineSession& session, Scheduler& scheduler, EventPoster& events)
      : session_(session), scheduler_(scheduler), events_(events) {}
  TaskCommands(const TaskCommands&) = delete;
  TaskCommands& operator=(const TaskCommands&) = delete;

  Status Create(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                const std::wstring& referrer, long connections, long flags, BYTE* state);
  Status Stop(const std::wstring& key);
  Status Cancel(const std::wstring& key);
  Status Delete(const std::wstring& key, bool deleteFile);
  Status Move(const std::wstring& key, BYTE position);
  Status Import(const std::wstring& text);
  Status SetCookie(const std::wstring& text, bool persistent);
  Status ClearCookies();
  Status ResourceSize(const std::wstring& key, long* size);
  Status BlockStatus(const std::wstring& key, std::wstring* text, long* count);
  Status TotalSpeed(long* bytesPerSecond);
  Status DownloadingCount(long* count);
  Status WorkKeys(std::vector<std::wstring>* keys);
  Status Query(const std::wstring& key, TaskInfo* info, bool* found);

 private:
  Task* Find(const std::wstring& key);
  bool Validate(Task* task, const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                const std::wstring& referrer);

  EngineSession& session_;
  Scheduler& scheduler_;
  EventPoster& events_;
};

}  // namespace engine
