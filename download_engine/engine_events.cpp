// The events the engine posts: a task's values at this moment, a finished
// entry's, and the records of tasks whose place in the queue moved.
#include "download_engine/engine.h"

#include <algorithm>

#include "download_engine/engine_common.h"
#include "download_engine/task_texts.h"
#include "download_engine/text.h"

namespace engine {

const wchar_t* StateName(TaskState state) {
  switch (state) {
    case TaskState::Queued: return L"queued";
    case TaskState::Connecting: return L"connecting";
    case TaskState::Downloading: return L"downloading";
    case TaskState::Stopped: return L"stopped";
    case TaskState::Failed: return L"failed";
    case TaskState::Completing: return L"completing";
    case TaskState::Completed: return L"completed";
    case TaskState::Cancelled: return L"cancelled";
    case TaskState::Removed: return L"removed";
  }
  return L"";
}

void Engine::Emit(uint8_t kind, const Task& task) {
  if (closing_) return;
  TaskEvent event;
  event.kind = kind;
  event.folder = FieldText(task.folder);
  event.key = task.key;
  event.url = task.url;
  event.fileName = FieldText(task.fileName.empty() ? task.requestedName : task.fileName);
  event.referrer = FieldText(task.referrer);
  event.validator = FieldText(task.validator);
  if (!task.fileName.empty() && task.state != TaskState::Completed && task.Done() + (task.transfer ? 1 : 0) > 0)
    event.partialPath = PartialOf(task);
  event.created = FormatUtcTime(task.created);
  event.path = PathOf(task);
  event.finalUrl = FieldText(task.finalUrl);
  event.contentType = FieldText(task.contentType);
  event.message = FieldText(task.message);
  for (size_t i = 0; i < work_.size(); ++i)
    if (work_[i].get() == &task) event.queuePosition = static_cast<uint32_t>(i);
  event.stateName = StateName(task.state);
  int64_t received = 0;
  CurrentSegments(task, &received);
  if (task.transfer) event.connections = static_cast<uint8_t>(std::min(task.transfer->Snapshot().openConnections, 255));
  event.state = static_cast<uint8_t>(task.state);
  event.errorCode = task.errorCode;
  event.speed = task.transfer ? task.speed : 0;
  event.size = task.size;
  event.done = received;
  event.percent = task.size > 0 ? static_cast<double>(received) * 100.0 / static_cast<double>(task.size)
                                : (task.size == 0 && received == 0 && task.state == TaskState::Completing ? 100 : 0);
  hub_.Post(std::move(event));
}

void Engine::EmitFinished(const FinishedEntry& entry, TaskState state) {
  if (closing_) return;
  TaskEvent event;
  event.kind = task_event::kKindFinished;
  event.folder = entry.folder;
  event.key = entry.key;
  event.url = entry.url;
  event.fileName = entry.fileName;
  event.created = FormatUtcTime(entry.created);
  event.finished = FormatUtcTime(entry.finished);
  event.path = entry.path;
  event.finalUrl = FieldText(entry.finalUrl);
  event.contentType = FieldText(entry.contentType);
  event.stateName = StateName(state);
  event.percent = 100;
  event.complete = state == TaskState::Completed ? 1 : 0;
  event.state = static_cast<uint8_t>(state);
  event.speed = entry.averageSpeed;
  event.size = entry.size;
  event.done = entry.size;
  hub_.Post(std::move(event));
}

void Engine::EmitPositionsFrom(size_t index) {
  for (size_t i = index; i < work_.size(); ++i) Emit(task_event::kKindRecord, *work_[i]);
}

}  // namespace engine
