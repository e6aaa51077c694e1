// The events the engine posts (built by task_events): a task's values at this
// moment, a finished entry's and a deleted task's.
//
// A task's place in the queue travels in its events. When a task is moved,
// only that task's record is sent again (kind 0, silent); the tasks it passed
// are not, though their places shifted by one, and neither are the tasks
// behind one that was deleted or finished. A page's sink keeps a kind-0 record
// without the place (the stored record has no field for it) and shows the
// page nothing, so a record per passed task told no page anything, while it
// cost one event per task behind and added the key once more to every sink's
// store. A page that shows the order asks for the work list (ListWorkTasks),
// which is in queue order.
#include "download_engine/engine_events.h"

#include "download_engine/task_events.h"
#include "download_engine/task_paths.h"

namespace engine {

void EventPoster::PostTask(uint8_t kind, const Task& task) {
  if (session_.Closing()) return;
  // A task already off the list (deleted or finished) says place 0.
  const WorkList& work = session_.Work();
  uint32_t position = work.FindId(task.id) == &task ? static_cast<uint32_t>(work.PositionOf(task)) : 0;
  hub_.Post(TaskEventOf(kind, task, StandingOf(task, position)));
}

void EventPoster::PostFinished(const FinishedEntry& entry, TaskState state) {
  if (!session_.Closing()) hub_.Post(FinishedEventOf(entry, state));
}

void EventPoster::PostRemoved(const Task& task) {
  // The event that takes the record off every page's store.
  if (!session_.Closing()) hub_.Post(RemovedEventOf(task, TargetPathOf(task)));
}

}  // namespace engine
