// The engine as one per process: the COM objects counted, the session
// (EngineSession) opened on first use and closed with the last object, the
// transfers (Scheduler) wound down around the close, and the calls of the
// event thread and of the transfers taken under the engine's lock.
#include "download_engine/engine.h"

#include "download_engine/data_folder.h"
#include "download_engine/engine_common.h"
#include "download_engine/size_rules.h"
#include "download_engine/task_paths.h"
#include "download_engine/text.h"

namespace engine {

Engine& Engine::Instance() {
  // Never destroyed: transfers that outlive a session may still call in, and
  // nothing may join threads while the loader lock is held at process exit.
  static Engine* instance = new Engine();
  return *instance;
}

Engine::Engine() = default;

void Engine::AddObject() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++objects_;
}

void Engine::RemoveObject() {
  bool last;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    last = --objects_ == 0;
    if (last) scheduleUsers_ = 0;
  }
  // Called from Release and destructors: nothing may escape.
  if (last) {
    try {
      CloseSession();
    } catch (...) {
    }
  }
}

Status Engine::Open() {
  std::lock_guard<std::mutex> hold(mutex_);
  return OpenLocked();
}

Status Engine::OpenLocked() {
  if (session_.IsOpen()) return Ok();
  if (session_.Closing()) return Fail(E_PENDING, L"the engine is shutting down");
  Status opened = session_.Open(DataFolder(), [this](Task* task) { scheduler_.Finish(task); });
  if (opened.Failed()) return opened;
  hub_.Start([this] { Tick(); });
  return Ok();
}

void Engine::ScheduleStarted() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++scheduleUsers_;
}

void Engine::ScheduleStopped() {
  bool last;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    last = scheduleUsers_ > 0 && --scheduleUsers_ == 0;
  }
  if (last) {
    try {
      CloseSession();
    } catch (...) {
    }
  }
}

Status Engine::DownloadReady() {
  std::lock_guard<std::mutex> hold(mutex_);
  Status status = OpenLocked();
  if (status.Failed() || !session_.TakeAutoStart()) return status;
  scheduler_.ApplyAutoStart();
  return Ok();
}

void Engine::CloseSession() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!session_.IsOpen() || session_.Closing()) return;
    session_.BeginClose();
    scheduler_.StopAll();
  }
  // Stopped connections write what they have and end; a stalled one may sit
  // in a read until its time-out, and is left behind rather than waited for.
  ULONGLONG deadline = GetTickCount64() + kCloseGraceMs;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (!scheduler_.Busy() || GetTickCount64() >= deadline) break;
    }
    HANDLE self = GetCurrentThread();
    MsgWaitForMultipleObjects(0, &self, FALSE, 20, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  // No event after this: what is still queued is dropped.
  hub_.Stop();
  std::lock_guard<std::mutex> hold(mutex_);
  scheduler_.AbandonAll();
  session_.Close();
}

void Engine::Tick() {
  std::lock_guard<std::mutex> hold(mutex_);
  scheduler_.Tick(NowMs());
}

bool Engine::TransferResponded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts,
                               std::wstring* partialPath, HttpError* error) {
  std::lock_guard<std::mutex> hold(mutex_);
  return scheduler_.Responded(taskId, transfer, facts, partialPath, error);
}

void Engine::TransferCheckpoint(uint64_t, const Transfer*) {
  std::lock_guard<std::mutex> hold(mutex_);
  session_.MarkProgress();
}

void Engine::TransferEnded(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome) {
  std::lock_guard<std::mutex> hold(mutex_);
  scheduler_.Ended(taskId, transfer, outcome);
}

}  // namespace engine
