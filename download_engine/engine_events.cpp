// The events the engine posts (built by task_events): a task's values at this
// moment and a finished entry's.
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
#include "download_engine/engine.h"

#include "download_engine/engine_common.h"
#include "download_engine/task_events.h"

namespace engine {

void Engine::Emit(uint8_t kind, const Task& task) {
  if (session_.Closing()) return;
  // A task already off the list (deleted or finished) says place 0.
  uint32_t position = session_.Work().FindId(task.id) == &task ? static_cast<uint32_t>(session_.Work().PositionOf(task)) : 0;
  hub_.Post(TaskEventOf(kind, task, StandingOf(task, position)));
}

void Engine::EmitFinished(const FinishedEntry& entry, TaskState state) {
  if (!session_.Closing()) hub_.Post(FinishedEventOf(entry, state));
}

}  // namespace engine
