#include "download_engine/engine.h"

#include <algorithm>

#include "download_engine/data_folder.h"
#include "download_engine/disk_space.h"
#include "download_engine/file_names.h"
#include "download_engine/machine_identity.h"
#include "download_engine/module_state.h"
#include "download_engine/setting_rules.h"
#include "download_engine/size_rules.h"
#include "download_engine/task_texts.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"
#include "download_engine/zone_identifier.h"

namespace engine {

namespace {

constexpr uint64_t kProgressEventMs = 500;
constexpr uint64_t kWorkSaveMs = 500;
constexpr DWORD kCloseGraceMs = 3000;
constexpr int32_t kMaxConnections = 16;

// Flags of CreateDownload's last number.
constexpr long kAddStopped = 1;
constexpr long kAddFirst = 2;

Status Ok() { return Status(); }
Status Fail(HRESULT result, const std::wstring& message) { return Status{result, message}; }
Status BadArgument(const std::wstring& message) { return Fail(E_INVALIDARG, message); }

bool Running(TaskState state) {
  return state == TaskState::Connecting || state == TaskState::Downloading || state == TaskState::Completing;
}

bool Restartable(TaskState state) {
  return state == TaskState::Stopped || state == TaskState::Failed || state == TaskState::Cancelled;
}

long ClampToLong(int64_t value) { return value > LONG_MAX ? LONG_MAX : static_cast<long>(value); }

// -1 when there is no such file.
int64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace

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

// ---------------------------------------------------------------- session

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
  const std::wstring settingsPath = folder_ + L"\\settings.txt";
  bool settingsDamaged = false;
  settings_ = LoadSettings(settingsPath, &settingsDamaged);
  // As with a damaged journal: kept beside for a look, the defaults used and written.
  if (settingsDamaged)
    MoveFileExW(settingsPath.c_str(), (settingsPath + L".damaged").c_str(), MOVEFILE_REPLACE_EXISTING);
  bool saveSettings = settingsDamaged;
  if (settings_.peerId.empty()) {
    settings_.peerId = NewPeerId();
    saveSettings = true;
  }
  limiter_->SetRate(static_cast<uint64_t>(settings_.downloadLimitKiB) * 1024);
  cookies_ = std::make_shared<CookieJar>();
  for (const auto& cookie : settings_.cookies) cookies_->Set(cookie);

  journal_ = std::make_unique<Journal>(folder_);
  JournalContent content = journal_->Load();
  work_.clear();
  for (auto& task : content.work) work_.push_back(std::make_unique<Task>(std::move(task)));
  finished_ = std::move(content.finished);
  nextId_ = content.nextId;
  tombstones_.clear();
  autoStartApplied_ = false;
  workDirty_ = false;
  open_ = true;
  Recover();
  if (saveSettings) SaveSettings(settingsPath, settings_);
  hub_.Start([this] { Tick(); });
  return Ok();
}

// Tasks as the last session (or a crash) left them. What the journal says is
// checked as strictly as what a page gives: it may be damaged or edited.
void Engine::Recover() {
  bool changed = false;
  for (size_t i = 0; i < work_.size();) {
    Task& task = *work_[i];
    if (CheckRecovered(&task)) changed = true;
    if (task.state == TaskState::Queued || task.state == TaskState::Connecting ||
        task.state == TaskState::Downloading) {
      task.state = TaskState::Stopped;
      task.interrupted = true;
      changed = true;
    }
    if (task.state == TaskState::Completing) {
      // The journal said "renaming": finish what the crash interrupted.
      std::wstring partial = PartialOf(task), path = PathOf(task);
      bool moved = GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES &&
                   MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
      if (moved || GetFileAttributesW(partial.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (moved || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
          Finish(i);
          changed = true;
          continue;
        }
      }
      task.state = TaskState::Failed;
      task.message = L"the downloaded file went missing while it was being completed";
      changed = true;
    }
    ++i;
  }
  if (changed) SaveWork();
}

// The rules of CreateDownload and of the server's answers, applied to a task
// from the journal. True when the task had to change.
bool Engine::CheckRecovered(Task* task) {
  std::wstring reason;
  UrlParts parts;
  auto fail = [task](const std::wstring& message) {
    task->state = TaskState::Failed;
    task->message = message;
    task->errorCode = 0;
  };
  // Texts that go into request headers or name files: unusable ones are dropped.
  bool changed = false;
  auto drop = [&changed](std::wstring* text) {
    changed = changed || !text->empty();
    text->clear();
  };
  if (!task->referrer.empty() && !CheckUrl(task->referrer, &parts, &reason)) drop(&task->referrer);
  if (!task->finalUrl.empty() && !CheckUrl(task->finalUrl, &parts, &reason)) drop(&task->finalUrl);
  if (HasControlCharacter(task->validator)) drop(&task->validator);
  if (!task->requestedName.empty() && !CheckFileName(task->requestedName, &reason)) drop(&task->requestedName);
  std::wstring folder;
  if (!CheckFolderSyntax(task->folder, &folder, &reason)) {
    // Nothing in such a folder is this task's: no file there is touched.
    task->fileName.clear();
    task->segments.clear();
    fail(L"the journal named an unusable folder: " + reason);
    return true;
  }
  if (!task->fileName.empty() && !CheckFileName(task->fileName, &reason)) {
    task->fileName.clear();
    task->segments.clear();
    fail(L"the journal named an unusable file: " + reason);
    return true;
  }
  if (!CheckUrl(task->url, &parts, &reason)) {
    task->segments.clear();
    fail(reason);
    return true;
  }
  if (!ValidSegments(task->segments, task->size, &reason)) {
    // The progress cannot be trusted; the task starts over when it runs again.
    task->segments.clear();
    task->validator.clear();
    task->message = L"the journal's progress was inconsistent (" + reason + L"); the download starts over";
    return true;
  }
  if (task->state != TaskState::Failed && task->state != TaskState::Completing &&
      !CheckFolder(task->folder, &folder, &reason)) {
    // The folder may come back (a drive plugged in again): progress stays.
    fail(reason);
    return true;
  }
  return changed;
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
  for (auto& task : work_) {
    if (!task->interrupted) continue;
    task->interrupted = false;
    if (settings_.autoStart && task->state == TaskState::Stopped) {
      task->state = TaskState::Queued;
      task->retriesLeft = settings_.retries;
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
    for (auto& task : work_) {
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
      for (auto& task : work_) busy = busy || task->transfer != nullptr;
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
  for (auto& task : work_) {
    if (!task->transfer) continue;
    task->segments = task->transfer->Snapshot().segments;
    task->transfer->Abandon();
    task->transfer.reset();
  }
  for (auto& task : work_) {
    if (task->interrupted && task->state != TaskState::Completing) task->state = TaskState::Stopped;
    if (task->cancelPending) {
      // The delete takes effect once the abandoned transfer closes the file.
      DeleteFileW(PartialOf(*task).c_str());
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
  work_.clear();
  finished_.clear();
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
  for (auto& task : work_) {
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
  }
  if (retryDue) Schedule();
  if (workDirty_ && now - lastWorkSaveMs_ >= kWorkSaveMs) SaveWork();
}

// ---------------------------------------------------------------- helpers

Task* Engine::Find(const std::wstring& key, size_t* index) {
  std::wstring normalized = NormalizeUrl(key);
  for (size_t i = 0; i < work_.size(); ++i) {
    if (work_[i]->key == normalized) {
      if (index) *index = i;
      return work_[i].get();
    }
  }
  return nullptr;
}

Task* Engine::FindId(uint64_t id) {
  for (auto& task : work_)
    if (task->id == id) return task.get();
  return nullptr;
}

std::wstring Engine::PathOf(const Task& task) const {
  if (task.fileName.empty() || task.folder.empty()) return std::wstring();
  return (task.folder.back() == L'\\' ? task.folder : task.folder + L"\\") + task.fileName;
}

std::wstring Engine::PartialOf(const Task& task) const {
  std::wstring path = PathOf(task);
  return path.empty() ? path : path + kPartialSuffix;
}

bool Engine::NameTaken(const Task* self, const std::wstring& folder, const std::wstring& name) {
  for (const auto& other : work_) {
    if (other.get() == self || other->fileName.empty()) continue;
    if (SameFileName(other->folder, folder) && SameFileName(other->fileName, name)) return true;
  }
  std::wstring path = (folder.back() == L'\\' ? folder : folder + L"\\") + name;
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // Another task's leftover partial file is not ours to continue.
  std::wstring partial = path + kPartialSuffix;
  bool ownPartial = self && SameFileName(self->folder, folder) && SameFileName(self->fileName, name);
  return !ownPartial && GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Checks the page's input into the task; a failing check leaves the task failed with the reason.
bool Engine::Validate(Task* task, const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                      const std::wstring& referrer) {
  task->url = NormalizeUrl(url);
  task->folder = folder;
  task->requestedName = fileName;
  task->fileName.clear();
  task->referrer = referrer;
  task->segments.clear();
  task->size = -1;
  task->validator.clear();
  task->contentType.clear();
  task->finalUrl.clear();
  std::wstring reason;
  UrlParts parts;
  std::wstring checkedFolder;
  bool ok = CheckUrl(url, &parts, &reason) && CheckFolder(folder, &checkedFolder, &reason) &&
            (fileName.empty() || CheckFileName(fileName, &reason));
  if (ok && !referrer.empty() && !CheckUrl(referrer, &parts, &reason)) {
    reason = L"the referrer is not a usable http or https URL: " + reason;
    ok = false;
  }
  if (ok) {
    task->folder = checkedFolder;
    if (!fileName.empty()) {
      std::wstring name = UniqueName(
          fileName, [&](const std::wstring& candidate) { return NameTaken(task, checkedFolder, candidate); },
          MaxNameLength(checkedFolder));
      std::wstring path;
      ok = JoinTarget(checkedFolder, name, &path, &reason);
      if (ok) task->fileName = name;
    }
  }
  if (!ok) {
    task->state = TaskState::Failed;
    task->message = reason;
    task->errorCode = 0;
  }
  return ok;
}

std::vector<Segment> Engine::CurrentSegments(const Task& task, int64_t* received) const {
  if (task.transfer) {
    Transfer::Progress progress = task.transfer->Snapshot();
    *received = progress.received;
    return progress.segments;
  }
  *received = task.Done();
  return task.segments;
}

void Engine::Emit(uint8_t kind, const Task& task) {
  if (closing_) return;
  TaskEvent event;
  event.kind = kind;
  event.folder = FieldText(task.folder);
  event.key = task.key;
  event.url = task.url;
  event.fileName = FieldText(task.fileName.empty() ? task.requestedName : task.fileName);
  event.referrer = FieldText(task.referrer);
  event.validator = FieldText(task.validator);
  if (!task.fileName.empty() && task.state != TaskState::Completed && task.Done() + (task.transfer ? 1 : 0) > 0)
    event.partialPath = PartialOf(task);
  event.created = FormatUtcTime(task.created);
  event.path = PathOf(task);
  event.finalUrl = FieldText(task.finalUrl);
  event.contentType = FieldText(task.contentType);
  event.message = FieldText(task.message);
  for (size_t i = 0; i < work_.size(); ++i)
    if (work_[i].get() == &task) event.queuePosition = static_cast<uint32_t>(i);
  event.stateName = StateName(task.state);
  int64_t received = 0;
  CurrentSegments(task, &received);
  if (task.transfer) event.connections = static_cast<uint8_t>(std::min(task.transfer->Snapshot().openConnections, 255));
  event.state = static_cast<uint8_t>(task.state);
  event.errorCode = task.errorCode;
  event.speed = task.transfer ? task.speed : 0;
  event.size = task.size;
  event.done = received;
  event.percent = task.size > 0 ? static_cast<double>(received) * 100.0 / static_cast<double>(task.size)
                                : (task.size == 0 && received == 0 && task.state == TaskState::Completing ? 100 : 0);
  hub_.Post(std::move(event));
}

void Engine::EmitFinished(const FinishedEntry& entry, TaskState state) {
  if (closing_) return;
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
  hub_.Post(std::move(event));
}

void Engine::EmitPositionsFrom(size_t index) {
  for (size_t i = index; i < work_.size(); ++i) Emit(task_event::kKindRecord, *work_[i]);
}

void Engine::SaveWork() {
  if (!journal_) return;
  std::vector<Task> copies;
  copies.reserve(work_.size());
  for (const auto& task : work_) {
    Task copy;
    copy.id = task->id;
    copy.key = task->key;
    copy.url = task->url;
    copy.folder = task->folder;
    copy.requestedName = task->requestedName;
    copy.fileName = task->fileName;
    copy.referrer = task->referrer;
    copy.connections = task->connections;
    copy.state = task->state;
    copy.message = task->message;
    copy.errorCode = task->errorCode;
    copy.size = task->size;
    int64_t received;
    copy.segments = CurrentSegments(*task, &received);
    copy.validator = task->validator;
    copy.contentType = task->contentType;
    copy.finalUrl = task->finalUrl;
    copy.created = task->created;
    copy.interrupted = task->interrupted;
    copies.push_back(std::move(copy));
  }
  journal_->SaveWork(copies, nextId_);
  workDirty_ = false;
  lastWorkSaveMs_ = NowMs();
}

void Engine::SaveFinished() {
  if (journal_) journal_->SaveFinished(finished_);
}

Status Engine::SaveSettingsNow() {
  unsigned long error = SaveSettings(folder_ + L"\\settings.txt", settings_);
  if (error != 0) return Fail(HRESULT_FROM_WIN32(error), L"the settings could not be saved");
  return Ok();
}

// ---------------------------------------------------------------- scheduling

void Engine::Schedule() {
  if (!open_ || closing_) return;
  int limit = std::max(1, settings_.maxDownloads);
  // A lowered limit sends the most recently started tasks back to the queue.
  for (;;) {
    int running = 0;
    Task* newest = nullptr;
    for (auto& task : work_) {
      if (task->transfer && (task->state == TaskState::Connecting || task->state == TaskState::Downloading)) {
        ++running;
        if (!newest || task->startedMs >= newest->startedMs) newest = task.get();
      }
    }
    if (running <= limit || !newest) break;
    newest->transfer->Stop();
    newest->requeueAfterTransfer = true;
    newest->state = TaskState::Queued;
    Emit(task_event::kKindTask, *newest);
  }
  // Transfers still winding down hold their slot until they end.
  int active = 0;
  for (auto& task : work_) active += task->transfer ? 1 : 0;
  uint64_t now = NowMs();
  for (auto& task : work_) {
    if (active >= limit) break;
    if (task->state != TaskState::Queued || task->transfer || task->retryAtMs > now) continue;
    StartTransfer(task.get());
    ++active;
  }
}

void Engine::StartTransfer(Task* task) {
  // Progress is only worth what the partial file still holds: a missing file
  // starts over, a shorter one resumes from where its bytes end.
  std::wstring note;
  if (task->Done() > 0) {
    int64_t length = SizeOf(PartialOf(*task));
    if (length < 0) {
      task->segments.clear();
      task->validator.clear();
      note = L"the partial file is gone; the download starts over";
    } else if (ClipToFile(&task->segments, length)) {
      note = L"the partial file is shorter than its progress; the download resumes from the bytes it has";
    }
  }
  TransferPlan plan;
  plan.taskId = task->id;
  plan.url = task->url;
  plan.referrer = task->referrer;
  plan.validator = task->validator;
  plan.validatorUrl = task->finalUrl;
  plan.size = task->size;
  plan.segments = task->segments;
  plan.partialPath = PartialOf(*task);
  plan.maxUnsizedBytes = static_cast<int64_t>(settings_.maxUnsizedMiB) << 20;
  plan.connections = settings_.singleConnection ? 1 : std::clamp(task->connections, 1, kMaxConnections);
  plan.cacheBytes = static_cast<uint32_t>(std::clamp(settings_.diskCacheKiB, 0, 256 * 1024)) * 1024u;
  plan.http.userAgent = settings_.clientVersion;
  plan.http.proxy = settings_.proxy;
  plan.http.connectTimeoutMs = std::max(100, settings_.connectTimeoutMs);
  plan.http.receiveTimeoutMs = std::max(100, settings_.receiveTimeoutMs);
  task->transfer = std::make_shared<Transfer>(this, limiter_, cookies_, plan);
  task->state = TaskState::Connecting;
  task->message = note;
  task->errorCode = 0;
  task->retryAtMs = 0;
  task->startedMs = NowMs();
  task->startBytes = task->Done();
  task->speed = 0;
  task->lastSampleMs = 0;
  task->lastProgressEventMs = 0;
  if (!task->transfer->Start()) {
    task->transfer.reset();
    task->state = TaskState::Failed;
    task->message = L"the engine could not start a thread for the download";
  }
  Emit(task_event::kKindTask, *task);
  SaveWork();
}

// The transfer has the whole file: rename it and move the task to the finished list.
void Engine::Finish(size_t index) {
  Task& task = *work_[index];
  if (task.state != TaskState::Completing) {
    task.state = TaskState::Completing;
    Emit(task_event::kKindTask, task);
    // Written ahead: a crash during the rename is finished on the next start.
    SaveWork();
  }
  std::wstring partial = PartialOf(task);
  if (GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES) {
    std::wstring path = PathOf(task);
    bool moved = MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved && (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)) {
      // Someone put a file of that name there meanwhile: never overwrite it.
      task.fileName = UniqueName(
          task.fileName, [&](const std::wstring& candidate) { return NameTaken(&task, task.folder, candidate); },
          MaxNameLength(task.folder));
      moved = MoveFileExW(partial.c_str(), PathOf(task).c_str(), MOVEFILE_WRITE_THROUGH);
    }
    if (!moved) {
      DWORD code = GetLastError();
      task.state = TaskState::Failed;
      task.errorCode = static_cast<int32_t>(code);
      task.message = L"the finished file could not be renamed (Windows error " + std::to_wstring(code) + L")";
      Emit(task_event::kKindTask, task);
      SaveWork();
      return;
    }
  }
  // Written where the volume allows it; the download is complete either way.
  WriteZoneIdentifier(PathOf(task),
                      ZoneIdentifierText(task.finalUrl.empty() ? task.url : task.finalUrl, task.referrer));
  FinishedEntry entry;
  entry.id = task.id;
  entry.key = task.key;
  entry.url = task.url;
  entry.folder = task.folder;
  entry.fileName = task.fileName;
  entry.path = PathOf(task);
  entry.size = task.size >= 0 ? task.size : task.Done();
  entry.finalUrl = task.finalUrl.empty() ? task.url : task.finalUrl;
  entry.contentType = task.contentType;
  entry.created = task.created;
  entry.finished = NowFileTime();
  uint64_t elapsed = task.startedMs ? NowMs() - task.startedMs : 0;
  int64_t moved = task.Done() - task.startBytes;
  entry.averageSpeed = elapsed > 0 ? ClampToUint32(static_cast<double>(moved) * 1000.0 / static_cast<double>(elapsed)) : 0;
  // The finished list first: a crash between the two saves finds the task finished.
  finished_.push_back(entry);
  SaveFinished();
  work_.erase(work_.begin() + static_cast<long>(index));
  SaveWork();
  EmitFinished(entry, TaskState::Completed);
  EmitPositionsFrom(index);
}

// ---------------------------------------------------------------- transfer callbacks

bool Engine::TransferResponded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts,
                               std::wstring* partialPath, HttpError* error) {
  std::lock_guard<std::mutex> hold(mutex_);
  Task* task = FindId(taskId);
  if (!task || task->transfer.get() != transfer || closing_ ||
      (task->state != TaskState::Connecting && task->state != TaskState::Downloading)) {
    error->message = L"stopped";
    return false;
  }
  task->size = facts.size;
  task->contentType = facts.contentType;
  task->finalUrl = facts.finalUrl;
  task->validator = facts.validator;
  if (task->fileName.empty()) {
    std::wstring name = task->requestedName;
    std::wstring reason;
    if (name.empty() && !facts.suggestedName.empty()) {
      name = facts.suggestedName;
      if (!CheckFileName(name, &reason)) {
        error->message = L"the server suggested an unsafe file name: " + reason;
        error->code = 0;
        error->transient = false;
        return false;
      }
    }
    if (name.empty()) {
      name = NameFromUrl(facts.finalUrl);
      // A name the page never asked for: an unusable one is simply replaced.
      if (name.empty() || !CheckFileName(name, &reason)) name = L"download";
    }
    name = UniqueName(
        name, [&](const std::wstring& candidate) { return NameTaken(task, task->folder, candidate); },
        MaxNameLength(task->folder));
    std::wstring path;
    if (!JoinTarget(task->folder, name, &path, &reason)) {
      error->message = reason;
      error->transient = false;
      return false;
    }
    task->fileName = name;
  }
  // A file that cannot fit fails now rather than filling the disk first.
  if (facts.size > 0) {
    int64_t onDisk = facts.restartedFromZero ? 0 : std::max<int64_t>(0, SizeOf(PartialOf(*task)));
    int64_t needed = facts.size - std::min(onDisk, facts.size);
    uint64_t free = 0;
    if (needed > 0 && FreeSpaceOf(task->folder, &free) && static_cast<uint64_t>(needed) > free) {
      error->message = NotEnoughSpace(needed, free);
      error->code = kDiskFullCode;
      error->transient = false;
      return false;
    }
  }
  task->state = TaskState::Downloading;
  task->message.clear();  // why it started over, if it did, was said while connecting
  *partialPath = PartialOf(*task);
  Emit(task_event::kKindTask, *task);
  task->lastProgressEventMs = NowMs();
  SaveWork();
  return true;
}

void Engine::TransferCheckpoint(uint64_t, const Transfer*) {
  std::lock_guard<std::mutex> hold(mutex_);
  workDirty_ = true;
}

void Engine::TransferEnded(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (size_t i = 0; i < cleanups_.size(); ++i) {
    if (cleanups_[i].id == taskId && cleanups_[i].transfer == transfer) {
      DeleteFileW(cleanups_[i].partialPath.c_str());
      cleanups_.erase(cleanups_.begin() + static_cast<long>(i));
      return;
    }
  }
  size_t index = 0;
  Task* task = nullptr;
  for (size_t i = 0; i < work_.size(); ++i) {
    if (work_[i]->id == taskId) {
      task = work_[i].get();
      index = i;
    }
  }
  if (!task || task->transfer.get() != transfer) return;
  task->segments = outcome.segments;
  if (outcome.size >= 0) task->size = outcome.size;
  std::shared_ptr<Transfer> keep = std::move(task->transfer);
  if (closing_) return;
  task->speed = 0;
  if (task->cancelPending) {
    task->cancelPending = false;
    DeleteFileW(PartialOf(*task).c_str());
    task->segments.clear();
    task->validator.clear();
    task->fileName.clear();
    if (!task->requestedName.empty()) {
      task->fileName = UniqueName(
          task->requestedName, [&](const std::wstring& candidate) { return NameTaken(task, task->folder, candidate); },
          MaxNameLength(task->folder));
    }
    Emit(task_event::kKindTask, *task);
  } else if (outcome.result == TransferResult::Completed) {
    Finish(index);
  } else if (task->requeueAfterTransfer ||
             (task->state != TaskState::Connecting && task->state != TaskState::Downloading)) {
    // Stopped by the page (state already reported) or sent back to the queue.
    task->requeueAfterTransfer = false;
    Emit(task_event::kKindTask, *task);
  } else if (outcome.result == TransferResult::Failed && outcome.error.transient && task->retriesLeft > 0) {
    --task->retriesLeft;
    task->state = TaskState::Queued;
    task->message = outcome.error.message + L"; trying again";
    task->errorCode = outcome.error.code;
    task->retryAtMs = NowMs() + static_cast<uint64_t>(std::max(0, settings_.retryDelayMs));
    Emit(task_event::kKindTask, *task);
  } else {
    task->state = TaskState::Failed;
    task->message = outcome.result == TransferResult::Stopped ? L"stopped" : outcome.error.message;
    task->errorCode = outcome.error.code;
    Emit(task_event::kKindTask, *task);
  }
  SaveWork();
  Schedule();
}

// ---------------------------------------------------------------- settings

#define ENGINE_OPEN_OR_RETURN()            \
  std::lock_guard<std::mutex> hold(mutex_); \
  {                                         \
    Status opened = OpenLocked();           \
    if (opened.Failed()) return opened;     \
  }

template <typename Field, typename Value>
Status Engine::ReadSetting(Field Settings::*field, Value* value) {
  ENGINE_OPEN_OR_RETURN();
  *value = settings_.*field;
  return Ok();
}

template <typename Field>
Status Engine::WriteSetting(Field Settings::*field, Field value) {
  ENGINE_OPEN_OR_RETURN();
  settings_.*field = value;
  return SaveSettingsNow();
}

Status Engine::WriteNumber(int32_t Settings::*field, long value) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(field), value, &reason)) return BadArgument(reason);
  settings_.*field = static_cast<int32_t>(value);
  return SaveSettingsNow();
}

Status Engine::SetProxy(const ProxySettings& given) {
  ENGINE_OPEN_OR_RETURN();
  ProxySettings proxy;
  std::wstring reason;
  if (!CheckProxy(given, &proxy, &reason)) return BadArgument(reason);
  settings_.proxy = proxy;
  return SaveSettingsNow();
}

Status Engine::SetUpnp(bool on) { return WriteSetting(&Settings::upnp, on); }

Status Engine::GetUpnp(bool* on) { return ReadSetting(&Settings::upnp, on); }

Status Engine::SetLimitSpeed(long downloadKiB, long uploadKiB) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(&Settings::downloadLimitKiB), downloadKiB, &reason) ||
      !CheckNumber(RuleFor(&Settings::uploadLimitKiB), uploadKiB, &reason))
    return BadArgument(reason);
  settings_.downloadLimitKiB = downloadKiB;
  settings_.uploadLimitKiB = uploadKiB;
  limiter_->SetRate(static_cast<uint64_t>(downloadKiB) * 1024);
  return SaveSettingsNow();
}

Status Engine::GetLimitSpeed(BYTE which, long* kiB) {
  ENGINE_OPEN_OR_RETURN();
  if (which == 0) *kiB = settings_.downloadLimitKiB;
  else if (which == 1) *kiB = settings_.uploadLimitKiB;
  else return BadArgument(L"ask for limit 0 (download) or 1 (upload)");
  return Ok();
}

Status Engine::SetDiskCache(long kiB) { return WriteNumber(&Settings::diskCacheKiB, kiB); }

Status Engine::GetDiskCache(long* kiB) { return ReadSetting(&Settings::diskCacheKiB, kiB); }

Status Engine::SetMaxDownloadCount(long count) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckNumber(RuleFor(&Settings::maxDownloads), count, &reason)) return BadArgument(reason);
  settings_.maxDownloads = count;
  Status saved = SaveSettingsNow();
  Schedule();
  return saved;
}

Status Engine::GetMaxDownloadCount(long* count) { return ReadSetting(&Settings::maxDownloads, count); }

Status Engine::SetAutoStart(bool on) { return WriteSetting(&Settings::autoStart, on); }

Status Engine::GetAutoStart(bool* on) { return ReadSetting(&Settings::autoStart, on); }

Status Engine::SetUdpPort(long port) { return WriteNumber(&Settings::udpPort, port); }

Status Engine::GetUdpPort(long* port) { return ReadSetting(&Settings::udpPort, port); }

Status Engine::SetSingleConnection(bool on) { return WriteSetting(&Settings::singleConnection, on); }

Status Engine::GetSingleConnection(bool* on) { return ReadSetting(&Settings::singleConnection, on); }

Status Engine::GetPeerId(std::wstring* id) { return ReadSetting(&Settings::peerId, id); }

Status Engine::GetAddress(std::wstring* address) {
  ENGINE_OPEN_OR_RETURN();
  *address = MachineAddress();
  return Ok();
}

Status Engine::SetClientVersion(const std::wstring& version) {
  ENGINE_OPEN_OR_RETURN();
  std::wstring reason;
  if (!CheckClientVersion(version, &reason)) return BadArgument(reason);
  settings_.clientVersion = version;
  return SaveSettingsNow();
}

// ---------------------------------------------------------------- tasks

Status Engine::CreateDownload(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                              const std::wstring& referrer, long connections, long flags, BYTE* state) {
  ENGINE_OPEN_OR_RETURN();
  size_t index = 0;
  Task* task = Find(url, &index);
  if (task && !Restartable(task->state)) {
    *state = static_cast<BYTE>(task->state);
    return Ok();
  }
  if (!task) {
    auto created = std::make_unique<Task>();
    created->id = nextId_++;
    created->key = NormalizeUrl(url);
    created->created = NowFileTime();
    task = created.get();
    index = work_.size();
    work_.push_back(std::move(created));
    task->state = TaskState::Queued;
    Validate(task, url, folder, fileName, referrer);
  } else if (task->Done() == 0 && !task->transfer) {
    // Nothing downloaded yet: what the page gives now replaces what it gave
    // before (and may correct what made the task fail); what it leaves empty
    // stays. A partial file of the task holds nothing it can vouch for.
    if (!task->fileName.empty()) DeleteFileW(PartialOf(*task).c_str());
    task->state = TaskState::Queued;
    Validate(task, url, folder.empty() ? task->folder : folder, fileName.empty() ? task->requestedName : fileName,
             referrer.empty() ? task->referrer : referrer);
  } else {
    // Progress is kept: the task goes on into its own file.
    task->state = TaskState::Queued;
  }
  if (connections > 0) task->connections = std::min<int32_t>(connections, kMaxConnections);
  if (task->state != TaskState::Failed) {
    task->message.clear();
    task->errorCode = 0;
    task->state = (flags & kAddStopped) ? TaskState::Stopped : TaskState::Queued;
    task->retriesLeft = std::max(0, settings_.retries);
    task->retryAtMs = 0;
    task->interrupted = false;
  }
  if ((flags & kAddFirst) && index > 0) {
    std::unique_ptr<Task> moved = std::move(work_[index]);
    work_.erase(work_.begin() + static_cast<long>(index));
    work_.insert(work_.begin(), std::move(moved));
    EmitPositionsFrom(1);
  }
  Emit(task_event::kKindTask, *task);
  SaveWork();
  Schedule();
  *state = static_cast<BYTE>(task->state);
  return Ok();
}

Status Engine::StopDownload(const std::wstring& key) {
  ENGINE_OPEN_OR_RETURN();
  Task* task = Find(key);
  if (!task || !(task->state == TaskState::Queued || task->state == TaskState::Connecting ||
                 task->state == TaskState::Downloading))
    return Ok();
  if (task->transfer) task->transfer->Stop();
  task->state = TaskState::Stopped;
  task->requeueAfterTransfer = false;
  task->retryAtMs = 0;
  task->interrupted = false;
  Emit(task_event::kKindTask, *task);
  SaveWork();
  Schedule();
  return Ok();
}

Status Engine::CancelDownload(const std::wstring& key) {
  ENGINE_OPEN_OR_RETURN();
  Task* task = Find(key);
  if (!task || task->state == TaskState::Completing || task->state == TaskState::Cancelled) return Ok();
  if (task->transfer) {
    task->transfer->Stop();
    task->cancelPending = true;
  } else {
    if (!task->fileName.empty()) DeleteFileW(PartialOf(*task).c_str());
    task->segments.clear();
    task->validator.clear();
    if (task->requestedName.empty()) task->fileName.clear();
  }
  task->state = TaskState::Cancelled;
  task->message.clear();
  task->errorCode = 0;
  task->requeueAfterTransfer = false;
  task->retryAtMs = 0;
  task->interrupted = false;
  Emit(task_event::kKindTask, *task);
  SaveWork();
  Schedule();
  return Ok();
}

Status Engine::DeleteDownload(const std::wstring& key, bool deleteFile) {
  ENGINE_OPEN_OR_RETURN();
  size_t index = 0;
  Task* task = Find(key, &index);
  if (!task) return Ok();
  std::unique_ptr<Task> removed = std::move(work_[index]);
  work_.erase(work_.begin() + static_cast<long>(index));
  std::wstring partial = PartialOf(*removed);
  if (removed->transfer) {
    removed->transfer->Stop();
    if (deleteFile && !partial.empty())
      cleanups_.push_back(Cleanup{removed->id, removed->transfer.get(), partial, removed->transfer});
  } else if (deleteFile && !partial.empty()) {
    DeleteFileW(partial.c_str());
  }
  removed->state = TaskState::Removed;
  // The event that takes the record off every page's store.
  TaskEvent event;
  event.kind = task_event::kKindFinished;
  event.key = removed->key;
  event.url = removed->url;
  event.folder = FieldText(removed->folder);
  event.fileName = FieldText(removed->fileName.empty() ? removed->requestedName : removed->fileName);
  event.path = PathOf(*removed);
  event.created = FormatUtcTime(removed->created);
  event.stateName = StateName(TaskState::Removed);
  event.state = static_cast<uint8_t>(TaskState::Removed);
  event.size = removed->size;
  event.done = removed->Done();
  if (!closing_) hub_.Post(std::move(event));
  EmitPositionsFrom(index);
  SaveWork();
  Schedule();
  return Ok();
}

Status Engine::DeleteFinished(const std::wstring& key, const std::wstring& path, bool deleteFile) {
  ENGINE_OPEN_OR_RETURN();
  // Only the entry the page names by its path: a page that deletes a working
  // task passes an empty path, and the finished copies of the same address
  // (and their files) are the user's to keep.
  if (path.empty()) return Ok();
  std::wstring normalized = NormalizeUrl(key);
  std::wstring wanted = ReplaceAll(path, L"/", L"\\");
  auto named = [&](const FinishedEntry& entry) { return entry.key == normalized && SameFileName(entry.path, wanted); };
  // Entries of the same path name the same file (downloaded again after it was
  // deleted): the newest one wrote what is there now, and the file goes only
  // while it is still that file.
  auto newest = std::find_if(finished_.rbegin(), finished_.rend(), named);
  if (newest == finished_.rend()) return Ok();
  if (deleteFile && SizeOf(newest->path) == newest->size) DeleteFileW(newest->path.c_str());
  for (size_t i = 0; i < finished_.size();) {
    if (!named(finished_[i])) {
      ++i;
      continue;
    }
    tombstones_.emplace_back(finished_[i].key, finished_[i].path, FormatUtcTime(finished_[i].finished));
    EmitFinished(finished_[i], TaskState::Removed);
    finished_.erase(finished_.begin() + static_cast<long>(i));
  }
  SaveFinished();
  return Ok();
}

Status Engine::Move(const std::wstring& key, BYTE position) {
  ENGINE_OPEN_OR_RETURN();
  size_t index = 0;
  Task* task = Find(key, &index);
  if (!task) return Ok();
  size_t target = std::min<size_t>(position, work_.size() - 1);
  if (target == index) return Ok();
  std::unique_ptr<Task> moved = std::move(work_[index]);
  work_.erase(work_.begin() + static_cast<long>(index));
  work_.insert(work_.begin() + static_cast<long>(target), std::move(moved));
  size_t from = std::min(index, target), to = std::max(index, target);
  for (size_t i = from; i <= to; ++i) Emit(task_event::kKindRecord, *work_[i]);
  SaveWork();
  Schedule();
  return Ok();
}

Status Engine::ImportTasks(const std::wstring& text) {
  ENGINE_OPEN_OR_RETURN();
  std::vector<ImportLine> lines;
  std::wstring reason;
  if (!ParseImportText(text, &lines, &reason)) return BadArgument(reason);
  for (const auto& line : lines) {
    if (Find(line.url)) continue;
    auto created = std::make_unique<Task>();
    created->id = nextId_++;
    created->key = NormalizeUrl(line.url);
    created->created = NowFileTime();
    created->connections = line.connections;
    Task* task = created.get();
    work_.push_back(std::move(created));
    if (Validate(task, line.url, line.folder, line.fileName, line.referrer)) {
      task->state = settings_.autoStart ? TaskState::Queued : TaskState::Stopped;
      task->retriesLeft = std::max(0, settings_.retries);
    }
    Emit(task_event::kKindTask, *task);
  }
  SaveWork();
  Schedule();
  return Ok();
}

Status Engine::SetCookie(const std::wstring& text, bool persistent) {
  ENGINE_OPEN_OR_RETURN();
  Cookie cookie;
  std::wstring reason;
  if (!ParseCookie(text, persistent, &cookie, &reason)) return BadArgument(reason);
  cookies_->Set(cookie);
  settings_.cookies = cookies_->Persistent();
  return SaveSettingsNow();
}

Status Engine::ClearCookies() {
  ENGINE_OPEN_OR_RETURN();
  cookies_->Clear();
  bool hadStored = !settings_.cookies.empty();
  settings_.cookies.clear();
  return hadStored ? SaveSettingsNow() : Ok();
}

Status Engine::GetResourceSize(const std::wstring& key, long* size) {
  ENGINE_OPEN_OR_RETURN();
  *size = -1;
  if (Task* task = Find(key)) {
    *size = task->size < 0 ? -1 : ClampToLong(task->size);
    return Ok();
  }
  std::wstring normalized = NormalizeUrl(key);
  for (auto entry = finished_.rbegin(); entry != finished_.rend(); ++entry) {
    if (entry->key == normalized) {
      *size = ClampToLong(entry->size);
      break;
    }
  }
  return Ok();
}

Status Engine::GetBlockStatus(const std::wstring& key, std::wstring* text, long* count) {
  ENGINE_OPEN_OR_RETURN();
  text->clear();
  *count = 0;
  int64_t size = -1;
  std::vector<Segment> segments;
  if (Task* task = Find(key)) {
    int64_t received;
    segments = CurrentSegments(*task, &received);
    size = task->size;
  } else {
    std::wstring normalized = NormalizeUrl(key);
    for (auto entry = finished_.rbegin(); entry != finished_.rend(); ++entry) {
      if (entry->key == normalized) {
        size = entry->size;
        segments.push_back(Segment{0, size, size});
        break;
      }
    }
  }
  *text = BlockStatusText(size, segments);
  *count = static_cast<long>(text->size());
  return Ok();
}

Status Engine::GetTotalSpeed(long* bytesPerSecond) {
  ENGINE_OPEN_OR_RETURN();
  int64_t total = 0;
  for (const auto& task : work_)
    if (task->transfer) total += task->speed;
  *bytesPerSecond = ClampToLong(total);
  return Ok();
}

Status Engine::GetDownloadingCount(long* count) {
  ENGINE_OPEN_OR_RETURN();
  long running = 0;
  for (const auto& task : work_) running += Running(task->state) ? 1 : 0;
  *count = running;
  return Ok();
}

Status Engine::ListWorkKeys(std::vector<std::wstring>* keys) {
  ENGINE_OPEN_OR_RETURN();
  keys->clear();
  for (const auto& task : work_) keys->push_back(task->key);
  return Ok();
}

Status Engine::QueryTask(const std::wstring& key, TaskInfo* info, bool* found) {
  ENGINE_OPEN_OR_RETURN();
  *found = false;
  if (Task* task = Find(key)) {
    info->url = task->url;
    info->folder = FieldText(task->folder);
    info->fileName = FieldText(task->fileName.empty() ? task->requestedName : task->fileName);
    info->message = FieldText(task->message);
    info->state = static_cast<uint8_t>(task->state);
    info->size = task->size;
    CurrentSegments(*task, &info->done);
    info->speed = task->transfer ? task->speed : 0;
    *found = true;
    return Ok();
  }
  std::wstring normalized = NormalizeUrl(key);
  for (auto entry = finished_.rbegin(); entry != finished_.rend(); ++entry) {
    if (entry->key != normalized) continue;
    info->url = entry->url;
    info->folder = entry->folder;
    info->fileName = entry->fileName;
    info->message.clear();
    info->state = static_cast<uint8_t>(TaskState::Completed);
    info->size = entry->size;
    info->done = entry->size;
    info->speed = entry->averageSpeed;
    *found = true;
    break;
  }
  return Ok();
}

Status Engine::ListFinishedTexts(std::vector<std::wstring>* texts) {
  ENGINE_OPEN_OR_RETURN();
  texts->clear();
  for (const auto& entry : finished_) texts->push_back(FinishedText(entry));
  return Ok();
}

Status Engine::Archive(const ArchiveRecord& record) {
  ENGINE_OPEN_OR_RETURN();
  // Only completed tasks belong in the finished list; a removal also ends with kind 5.
  if (record.complete != 1) return Ok();
  std::wstring key = NormalizeUrl(record.key);
  for (const auto& entry : finished_)
    if (entry.key == key && SameFileName(entry.path, record.path) && FormatUtcTime(entry.finished) == record.finished)
      return Ok();
  for (const auto& stone : tombstones_)
    if (std::get<0>(stone) == key && SameFileName(std::get<1>(stone), record.path) && std::get<2>(stone) == record.finished)
      return Ok();
  size_t cut = record.path.find_last_of(L'\\');
  if (record.path.empty() || cut == std::wstring::npos || record.fileName.empty())
    return BadArgument(L"an archived task needs its path and file name");
  std::wstring folder = record.path.substr(0, cut == 2 ? 3 : cut);
  // The finished list decides what DeleteDownload2 may delete: a plain name in a proper folder only.
  if (!IsFileInFolder(folder, record.fileName, record.path))
    return BadArgument(L"an archived task's path must be its file name inside its folder");
  // Only a file that is there as described: the finished list is what DeleteDownload2 may delete.
  if (SizeOf(record.path) != record.size) return BadArgument(L"the archived file is not there with that size");
  FinishedEntry entry;
  entry.id = nextId_++;
  entry.key = key;
  entry.url = NormalizeUrl(record.url.empty() ? record.key : record.url);
  entry.folder = folder;
  entry.fileName = record.fileName;
  entry.path = record.path;
  entry.size = record.size;
  entry.finalUrl = record.finalUrl;
  entry.contentType = record.contentType;
  entry.averageSpeed = record.averageSpeed;
  if (!ParseUtcTime(record.created, &entry.created)) entry.created = 0;
  if (!ParseUtcTime(record.finished, &entry.finished)) entry.finished = NowFileTime();
  finished_.push_back(entry);
  SaveFinished();
  return Ok();
}

}  // namespace engine
