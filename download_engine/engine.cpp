// The engine as one per process: the COM objects counted, the session
// (EngineSession) opened on first use and closed with the last object, the
// transfers wound down around the close, and the periodic work.
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
  Status opened = session_.Open(DataFolder(), [this](Task* task) { Finish(task); });
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
  for (Task* task : session_.Work().InOrder()) {
    if (!task->interrupted) continue;
    task->interrupted = false;
    if (session_.Values().autoStart && task->state == TaskState::Stopped) {
      task->state = TaskState::Queued;
      task->retriesLeft = session_.Values().retries;
      Emit(task_event::kKindTask, *task);
    }
  }
  session_.SaveWork();
  Schedule();
  return Ok();
}

void Engine::CloseSession() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!session_.IsOpen() || session_.Closing()) return;
    session_.BeginClose();
    for (Task* task : session_.Work().InOrder()) {
      if (task->state == TaskState::Queued || Running(task->state)) task->interrupted = true;
      if (task->transfer) task->transfer->Stop();
    }
  }
  // Stopped connections write what they have and end; a stalled one may sit
  // in a read until its time-out, and is left behind rather than waited for.
  ULONGLONG deadline = GetTickCount64() + kCloseGraceMs;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      // Deleted tasks still closing their file count too: their delete waits for it.
      bool busy = !cleanups_.empty();
      for (Task* task : session_.Work().InOrder()) busy = busy || task->transfer != nullptr;
      if (!busy || GetTickCount64() >= deadline) break;
    }
    HANDLE self = GetCurrentThread();
    MsgWaitForMultipleObjects(0, &self, FALSE, 20, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  // No event after this: what is still queued is dropped.
  hub_.Stop();
  std::lock_guard<std::mutex> hold(mutex_);
  const std::vector<Task*> tasks = session_.Work().InOrder();
  for (Task* task : tasks) {
    if (!task->transfer) continue;
    task->segments = task->transfer->Snapshot().segments;
    task->transfer->Abandon();
    task->transfer.reset();
  }
  for (Task* task : tasks) {
    if (task->interrupted && task->state != TaskState::Completing) task->state = TaskState::Stopped;
    if (task->cancelPending) {
      // The delete takes effect once the abandoned transfer closes the file.
      DeleteFileW(PartialPathOf(*task).c_str());
      task->segments.clear();
      task->cancelPending = false;
    }
  }
  for (auto& cleanup : cleanups_) {
    cleanup.keep->Abandon();
    DeleteFileW(cleanup.partialPath.c_str());
  }
  cleanups_.clear();
  session_.Close();
}

void Engine::Tick() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!session_.IsOpen() || session_.Closing()) return;
  uint64_t now = NowMs();
  bool retryDue = false;
  bool save = session_.CheckpointDue(now);
  for (Task* task : session_.Work().InOrder()) {
    if (task->state == TaskState::Queued && task->retryAtMs != 0 && task->retryAtMs <= now) retryDue = true;
    if (!task->transfer) continue;
    int64_t received = 0;
    CurrentSegments(*task, &received);
    if (task->lastSampleMs == 0) {
      task->lastSampleMs = now;
      task->lastBytes = received;
    } else if (now - task->lastSampleMs >= 500) {
      double rate = static_cast<double>(received - task->lastBytes) * 1000.0 / static_cast<double>(now - task->lastSampleMs);
      // Smoothed, so that a page's display does not jump with every read.
      task->speed = ClampToUint32(task->speed == 0 ? rate : task->speed * 0.5 + rate * 0.5);
      task->lastSampleMs = now;
      task->lastBytes = received;
    }
    if (task->state == TaskState::Downloading && now - task->lastProgressEventMs >= kProgressEventMs) {
      task->lastProgressEventMs = now;
      Emit(task_event::kKindTask, *task);
    }
    // A checkpoint: the progress of each running transfer.
    if (save) session_.SaveTask(*task);
  }
  if (save) session_.CheckpointTaken(now);
  if (retryDue) Schedule();
}

}  // namespace engine
