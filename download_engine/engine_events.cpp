// The events the engine posts (built by task_events): a task's values at this
// moment, a finished entry's, and the records of tasks whose place in the
// queue moved.
#include "download_engine/engine.h"

#include "download_engine/engine_common.h"
#include "download_engine/task_events.h"

namespace engine {

void Engine::Emit(uint8_t kind, const Task& task) {
  if (closing_) return;
  TaskStanding standing;
  for (size_t i = 0; i < work_.size(); ++i)
    if (work_[i].get() == &task) standing.queuePosition = static_cast<uint32_t>(i);
  if (!task.fileName.empty() && task.state != TaskState::Completed && task.Done() + (task.transfer ? 1 : 0) > 0)
    standing.partialPath = PartialOf(task);
  standing.path = PathOf(task);
  CurrentSegments(task, &standing.received);
  if (task.transfer) {
    standing.transferring = true;
    standing.connections = task.transfer->Snapshot().openConnections;
  }
  hub_.Post(TaskEventOf(kind, task, standing));
}

void Engine::EmitFinished(const FinishedEntry& entry, TaskState state) {
  if (!closing_) hub_.Post(FinishedEventOf(entry, state));
}

void Engine::EmitPositionsFrom(size_t index) {
  for (size_t i = index; i < work_.size(); ++i) Emit(task_event::kKindRecord, *work_[i]);
}

}  // namespace engine
