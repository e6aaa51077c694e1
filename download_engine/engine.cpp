// The engine as one per process: the COM objects counted, the session
// (EngineSession) opened on first use and closed with the last object, the
// transfers (Scheduler) wound down around the close, and the calls of the
// event thread and of the transfers taken under the engine's lock.
#include "download_engine/engine.h"

#include "download_engine/data_folder.h"
#include "download_engine/engine_common.h"
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

// The Download object's task commands, with the session open.

Status Engine::CreateDownload(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                              const std::wstring& referrer, long connections, long flags, BYTE* state) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Create(url, folder, fileName, referrer, connections, flags, state);
}

Status Engine::StopDownload(const std::wstring& key) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Stop(key);
}

Status Engine::CancelDownload(const std::wstring& key) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Cancel(key);
}

Status Engine::DeleteDownload(const std::wstring& key, bool deleteFile) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Delete(key, deleteFile);
}

Status Engine::Move(const std::wstring& key, BYTE position) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Move(key, position);
}

Status Engine::ImportTasks(const std::wstring& text) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Import(text);
}

Status Engine::SetCookie(const std::wstring& text, bool persistent) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.SetCookie(text, persistent);
}

Status Engine::ClearCookies() {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.ClearCookies();
}

Status Engine::GetResourceSize(const std::wstring& key, long* size) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.ResourceSize(key, size);
}

Status Engine::GetBlockStatus(const std::wstring& key, std::wstring* text, long* count) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.BlockStatus(key, text, count);
}

Status Engine::GetTotalSpeed(long* bytesPerSecond) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.TotalSpeed(bytesPerSecond);
}

Status Engine::GetDownloadingCount(long* count) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.DownloadingCount(count);
}

Status Engine::ListWorkKeys(std::vector<std::wstring>* keys) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.WorkKeys(keys);
}

Status Engine::QueryTask(const std::wstring& key, TaskInfo* info, bool* found) {
  ENGINE_OPEN_OR_RETURN();
  return tasks_.Query(key, info, found);
}

}  // namespace engine
