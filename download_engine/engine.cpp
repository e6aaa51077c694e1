// The engine's session: one per process, opened on first use (settings and
// journal loaded, the data folder locked, recovery of what a crash left) and
// closed with the last object; the periodic work and the journal's saving.
#include "download_engine/engine.h"

#include "download_engine/data_folder.h"
#include "download_engine/engine_common.h"
#include "download_engine/recovery_rules.h"
#include "download_engine/task_paths.h"
#include "download_engine/file_names.h"
#include "download_engine/machine_identity.h"
#include "download_engine/size_rules.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

Engine& Engine::Instance() {
  // Never destroyed: transfers that outlive a session may still call in, and
  // nothing may join threads while the loader lock is held at process exit.
  static Engine* instance = new Engine();
  return *instance;
}

Engine::Engine() : limiter_(std::make_shared<RateLimiter>()), cookies_(std::make_shared<CookieJar>()) {}

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
  if (open_) return Ok();
  if (closing_) return Fail(E_PENDING, L"the engine is shutting down");
  folder_ = DataFolder();
  if (folder_.empty()) return Fail(E_FAIL, L"the engine's data folder could not be created");
  // One engine per data folder: a second process would overwrite the journal.
  lockFile_ = CreateFileW((folder_ + L"\\engine.lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lockFile_ == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return Fail(HRESULT_FROM_WIN32(code), code == ERROR_SHARING_VIOLATION
                                              ? L"the engine's data folder is in use by another program"
                                              : L"the engine's data folder could not be locked");
  }
  settings_.Open(folder_);
  limiter_->SetRate(static_cast<uint64_t>(settings_.Values().downloadLimitKiB) * 1024);
  cookies_ = std::make_shared<CookieJar>();
  for (const auto& cookie : settings_.Values().cookies) cookies_->Set(cookie);

  journal_ = std::make_unique<Journal>(folder_);
  JournalContent content = journal_->Load();
  work_.Clear();
  for (auto& task : content.work) work_.Append(std::make_unique<Task>(std::move(task)));
  finished_.Reset(std::move(content.finished));
  nextId_ = content.nextId;
  autoStartApplied_ = false;
  workDirty_ = false;
  open_ = true;
  Recover();
  if (content.needsSave) SaveWork();
  hub_.Start([this] { Tick(); });
  return Ok();
}

// Tasks as the last session (or a crash) left them. What the journal says is
// checked as strictly as what a page gives: it may be damaged or edited.
void Engine::Recover() {
  bool changed = false;
  for (Task* recovered : work_.InOrder()) {
    Task& task = *recovered;
    if (RecheckFromJournal(&task)) changed = true;
    if (task.state == TaskState::Queued || task.state == TaskState::Connecting ||
        task.state == TaskState::Downloading) {
      task.state = TaskState::Stopped;
      task.interrupted = true;
      changed = true;
    }
    if (task.state == TaskState::Completing) {
      // The journal said "renaming": finish what the crash interrupted.
      std::wstring partial = PartialPathOf(task), path = TargetPathOf(task);
      bool moved = GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES &&
                   MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
      if (moved || GetFileAttributesW(partial.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (moved || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
          Finish(&task);
          changed = true;
          continue;
        }
      }
      task.state = TaskState::Failed;
      task.message = L"the downloaded file went missing while it was being completed";
      changed = true;
    }
    work_.Retarget(&task);
  }
  if (changed) SaveWork();
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
  if (status.Failed() || autoStartApplied_) return status;
  autoStartApplied_ = true;
  for (Task* task : work_.InOrder()) {
    if (!task->interrupted) continue;
    task->interrupted = false;
    if (settings_.Values().autoStart && task->state == TaskState::Stopped) {
      task->state = TaskState::Queued;
      task->retriesLeft = settings_.Values().retries;
      Emit(task_event::kKindTask, *task);
    }
  }
  SaveWork();
  Schedule();
  return Ok();
}

void Engine::CloseSession() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!open_ || closing_) return;
    closing_ = true;
    for (Task* task : work_.InOrder()) {
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
      for (Task* task : work_.InOrder()) busy = busy || task->transfer != nullptr;
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
  const std::vector<Task*> tasks = work_.InOrder();
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
  SaveWork();
  for (auto& cleanup : cleanups_) {
    cleanup.keep->Abandon();
    DeleteFileW(cleanup.partialPath.c_str());
  }
  cleanups_.clear();
  work_.Clear();
  finished_.Clear();
  journal_.reset();
  if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
  lockFile_ = INVALID_HANDLE_VALUE;
  open_ = false;
  closing_ = false;
}

void Engine::Tick() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!open_ || closing_) return;
  uint64_t now = NowMs();
  bool retryDue = false;
  bool save = workDirty_ && now - lastWorkSaveMs_ >= kWorkSaveMs;
  for (Task* task : work_.InOrder()) {
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
    if (save) SaveTask(*task);
  }
  if (save) {
    workDirty_ = false;
    lastWorkSaveMs_ = now;
  }
  if (retryDue) Schedule();
}

Task Engine::CopyForJournal(const Task& task) const {
  Task copy;
  copy.id = task.id;
  copy.key = task.key;
  copy.url = task.url;
  copy.folder = task.folder;
  copy.requestedName = task.requestedName;
  copy.fileName = task.fileName;
  copy.referrer = task.referrer;
  copy.connections = task.connections;
  copy.state = task.state;
  copy.message = task.message;
  copy.errorCode = task.errorCode;
  copy.size = task.size;
  int64_t received;
  copy.segments = CurrentSegments(task, &received);
  copy.validator = task.validator;
  copy.contentType = task.contentType;
  copy.finalUrl = task.finalUrl;
  copy.created = task.created;
  copy.interrupted = task.interrupted;
  return copy;
}

void Engine::SaveWork() {
  if (!journal_) return;
  std::vector<Task> copies;
  copies.reserve(work_.Size());
  for (const Task* task : work_.InOrder()) copies.push_back(CopyForJournal(*task));
  journal_->SaveWork(copies, nextId_);
  workDirty_ = false;
  lastWorkSaveMs_ = NowMs();
}

void Engine::SaveTask(const Task& task, bool placed) {
  if (!journal_) return;
  journal_->LogTask(CopyForJournal(task), placed, work_.PositionOf(task), nextId_);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void Engine::SaveAdded(const std::vector<const Task*>& tasks) {
  if (!journal_) return;
  std::vector<Task> copies;
  copies.reserve(tasks.size());
  for (const Task* task : tasks) copies.push_back(CopyForJournal(*task));
  journal_->LogAdded(copies, nextId_);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void Engine::SaveRemoved(uint64_t id) {
  if (!journal_) return;
  journal_->LogRemoved(id);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void Engine::SaveFinished() {
  if (journal_) journal_->SaveFinished(finished_.Entries());
}


}  // namespace engine
