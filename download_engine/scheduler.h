// The queue at work: which queued tasks get a download slot (slot_rules), their
// transfers started, answered, checkpointed and ended, a task halted by the
// page, a finished file renamed and moved to the finished list, the periodic
// sampling of speeds and progress, and the transfers wound down when the
// session closes. It works on the session's work list.
//
// It has no lock of its own: every call is made under the engine's one lock,
// and it posts events through the EventPoster as the engine always has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download_engine/engine_events.h"
#include "download_engine/session.h"
#include "download_engine/task.h"
#include "download_engine/transfer.h"

namespace engine {

class Scheduler {
 public:
  // host: what the transfers call back (the engine, which takes its lock and
  // comes back here).
  Scheduler(EngineSession& session, EventPoster& events, TransferHost* host)
      : session_(session), events_(events), host_(host) {}
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Starts queued tasks while slots are free and sends back to the queue the
  // ones that no longer have a slot.
  void Schedule();
  // A task the page stopped or cancelled: no retry, no requeue.
  void Halt(Task* task, TaskState state);
  // The transfer has the whole file (or a crash interrupted its rename).
  void Finish(Task* task);
  // The first Download object of a session: tasks a close interrupted are
  // queued again when AutoStart is on.
  void ApplyAutoStart();
  // A task deleted from the list while its transfer runs: its partial file
  // goes once the transfer has closed it.
  void DeleteWhenEnded(const Task& removed, const std::wstring& partialPath);
  // The periodic work: speeds sampled, progress events, a checkpoint, retries
  // that are due.
  void Tick(uint64_t nowMs);

  // Another task writes that name in that folder, or a file (or another
  // task's partial file) is there.
  bool NameTaken(const Task* self, const std::wstring& folder, const std::wstring& name) const;

  // The transfers' calls, made under the engine's lock.
  bool Responded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts, std::wstring* partialPath,
                 HttpError* error);
  void Ended(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome);

  // The session's close: every transfer asked to stop, running tasks marked
  // interrupted; then, while any transfer still runs, Busy; then whatever is
  // left abandoned with its progress taken, and pending deletes done.
  void StopAll();
  bool Busy() const;
  void AbandonAll();

 private:
  void StartTransfer(Task* task);

  EngineSession& session_;
  EventPoster& events_;
  TransferHost* host_;

  // Deleted tasks whose transfer is still winding down: their partial file
  // goes once it is closed.
  struct Cleanup {
    uint64_t id;
    const Transfer* transfer;
    std::wstring partialPath;
    std::shared_ptr<Transfer> keep;
  };
  std::vector<Cleanup> cleanups_;
};

}  // namespace engine
