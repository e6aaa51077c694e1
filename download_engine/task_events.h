// The events the engine builds (engine/task_event.h): a task's values as it
// stands now, a finished entry's, and the one that takes a deleted task off
// every page's store. Built here from plain values, so the rules (what each
// position holds, the percentage) can be checked without a running engine.
#pragma once

#include <cstdint>
#include <string>

#include "download_engine/task.h"
#include "engine/task_event.h"

namespace engine {

// What the engine knows of a task beyond its record.
struct TaskStanding {
  uint32_t queuePosition = 0;
  std::wstring partialPath;  // empty while there is no file being written
  std::wstring path;         // where the finished file goes
  int64_t received = 0;      // bytes in the file
  bool transferring = false;  // a transfer is running (it has a speed and connections)
  int connections = 0;
};

// A task's standing at its place in the queue: its paths (the partial file's
// only once it may hold bytes), its bytes, and its transfer's connections.
TaskStanding StandingOf(const Task& task, uint32_t queuePosition);

TaskEvent TaskEventOf(uint8_t kind, const Task& task, const TaskStanding& standing);
TaskEvent FinishedEventOf(const FinishedEntry& entry, TaskState state);
// The kind-5 event of a task the page deleted (its file at path, if it had one).
TaskEvent RemovedEventOf(const Task& task, const std::wstring& path);

}  // namespace engine
