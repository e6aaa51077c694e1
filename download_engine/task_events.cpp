#include "download_engine/task_events.h"

#include <algorithm>

#include "download_engine/task_paths.h"
#include "download_engine/task_texts.h"
#include "download_engine/text.h"
#include "download_engine/transfer.h"

namespace engine {

TaskStanding StandingOf(const Task& task, uint32_t queuePosition) {
  TaskStanding standing;
  standing.queuePosition = queuePosition;
  if (!task.fileName.empty() && task.state != TaskState::Completed && task.Done() + (task.transfer ? 1 : 0) > 0)
    standing.partialPath = PartialPathOf(task);
  standing.path = TargetPathOf(task);
  CurrentSegments(task, &standing.received);
  if (task.transfer) {
    standing.transferring = true;
    standing.connections = task.transfer->Snapshot().openConnections;
  }
  return standing;
}

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

TaskEvent TaskEventOf(uint8_t kind, const Task& task, const TaskStanding& standing) {
  TaskEvent event;
  event.kind = kind;
  event.folder = FieldText(task.folder);
  event.key = task.key;
  event.url = task.url;
  event.fileName = FieldText(task.fileName.empty() ? task.requestedName : task.fileName);
  event.referrer = FieldText(task.referrer);
  event.validator = FieldText(task.validator);
  event.partialPath = standing.partialPath;
  event.created = FormatUtcTime(task.created);
  event.path = standing.path;
  event.finalUrl = FieldText(task.finalUrl);
  event.contentType = FieldText(task.contentType);
  event.message = FieldText(task.message);
  event.queuePosition = standing.queuePosition;
  event.stateName = StateName(task.state);
  if (standing.transferring) event.connections = static_cast<uint8_t>(std::min(standing.connections, 255));
  event.state = static_cast<uint8_t>(task.state);
  event.errorCode = task.errorCode;
  event.speed = standing.transferring ? task.speed : 0;
  event.size = task.size;
  event.done = standing.received;
  // An empty file is all there once it is being renamed.
  event.percent = task.size > 0 ? static_cast<double>(standing.received) * 100.0 / static_cast<double>(task.size)
                                : (task.size == 0 && standing.received == 0 && task.state == TaskState::Completing
                                       ? 100
                                       : 0);
  return event;
}

TaskEvent FinishedEventOf(const FinishedEntry& entry, TaskState state) {
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
  return event;
}

TaskEvent RemovedEventOf(const Task& task, const std::wstring& path) {
  TaskEvent event;
  event.kind = task_event::kKindFinished;
  event.key = task.key;
  event.url = task.url;
  event.folder = FieldText(task.folder);
  event.fileName = FieldText(task.fileName.empty() ? task.requestedName : task.fileName);
  event.path = path;
  event.created = FormatUtcTime(task.created);
  event.stateName = StateName(TaskState::Removed);
  event.state = static_cast<uint8_t>(TaskState::Removed);
  event.size = task.size;
  event.done = task.Done();
  return event;
}

}  // namespace engine
