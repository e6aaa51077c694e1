// The events the engine posts about its tasks, through its EventHub: a task's
// values at this moment with its place in the queue, a finished entry's, and
// the one that takes a deleted task off every page's store. Nothing is posted
// once the session is closing.
#pragma once

#include <cstdint>

#include "download_engine/event_hub.h"
#include "download_engine/session.h"
#include "download_engine/task.h"

namespace engine {

class EventPoster {
 public:
  EventPoster(EventHub& hub, const EngineSession& session) : hub_(hub), session_(session) {}

  void PostTask(uint8_t kind, const Task& task);
  void PostFinished(const FinishedEntry& entry, TaskState state);
  // The task is off the work list already.
  void PostRemoved(const Task& task);

 private:
  EventHub& hub_;
  const EngineSession& session_;
};

}  // namespace engine
