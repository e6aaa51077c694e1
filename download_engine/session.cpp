// The engine's session: opened on first use (the data folder locked, settings
// and journal loaded, recovery of what a crash left) and closed with the last
// object; the journal's saving while it is open.
#include "download_engine/session.h"

#include "download_engine/recovery_rules.h"
#include "download_engine/task_paths.h"
#include "download_engine/text.h"

namespace engine {

EngineSession::EngineSession()
    : limiter_(std::make_shared<RateLimiter>()), cookies_(std::make_shared<CookieJar>()) {}

EngineSession::~EngineSession() {
  if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
}

Status EngineSession::Open(const std::wstring& folder, const FinishRecovered& finish) {
  if (folder.empty()) return Fail(E_FAIL, L"the engine's data folder could not be created");
  // One engine per data folder: a second process would overwrite the journal.
  HANDLE lock = CreateFileW((folder + L"\\engine.lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return Fail(HRESULT_FROM_WIN32(code), code == ERROR_SHARING_VIOLATION
                                              ? L"the engine's data folder is in use by another program"
                                              : L"the engine's data folder could not be locked");
  }
  folder_ = folder;
  lockFile_ = lock;
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
  Recover(finish);
  if (content.needsSave) SaveWork();
  return Ok();
}

// Tasks as the last session (or a crash) left them. What the journal says is
// checked as strictly as what a page gives: it may be damaged or edited.
void EngineSession::Recover(const FinishRecovered& finish) {
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
          finish(&task);
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

void EngineSession::Close() {
  SaveWork();
  work_.Clear();
  finished_.Clear();
  journal_.reset();
  if (lockFile_ != INVALID_HANDLE_VALUE) CloseHandle(lockFile_);
  lockFile_ = INVALID_HANDLE_VALUE;
  open_ = false;
  closing_ = false;
}

bool EngineSession::TakeAutoStart() {
  if (autoStartApplied_) return false;
  autoStartApplied_ = true;
  return true;
}

bool EngineSession::CheckpointDue(uint64_t nowMs) const { return workDirty_ && nowMs - lastWorkSaveMs_ >= kWorkSaveMs; }

void EngineSession::CheckpointTaken(uint64_t nowMs) {
  workDirty_ = false;
  lastWorkSaveMs_ = nowMs;
}

Task EngineSession::CopyForJournal(const Task& task) const {
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

void EngineSession::SaveWork() {
  if (!journal_) return;
  std::vector<Task> copies;
  copies.reserve(work_.Size());
  for (const Task* task : work_.InOrder()) copies.push_back(CopyForJournal(*task));
  journal_->SaveWork(copies, nextId_);
  workDirty_ = false;
  lastWorkSaveMs_ = NowMs();
}

void EngineSession::SaveTask(const Task& task, bool placed) {
  if (!journal_) return;
  journal_->LogTask(CopyForJournal(task), placed, work_.PositionOf(task), nextId_);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void EngineSession::SaveAdded(const std::vector<const Task*>& tasks) {
  if (!journal_) return;
  std::vector<Task> copies;
  copies.reserve(tasks.size());
  for (const Task* task : tasks) copies.push_back(CopyForJournal(*task));
  journal_->LogAdded(copies, nextId_);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void EngineSession::SaveRemoved(uint64_t id) {
  if (!journal_) return;
  journal_->LogRemoved(id);
  if (journal_->NeedsSave(work_.Size())) SaveWork();
}

void EngineSession::SaveFinished() {
  if (journal_) journal_->SaveFinished(finished_.Entries());
}

}  // namespace engine
