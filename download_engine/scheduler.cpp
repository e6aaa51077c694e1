// The queue at work: which queued tasks get a download slot, their transfers
// started, answered, saved on the way and ended, a finished file renamed, the
// periodic sampling, and the transfers wound down at a session's close.
#include "download_engine/scheduler.h"

#include <algorithm>

#include "download_engine/disk_space.h"
#include "download_engine/engine_common.h"
#include "download_engine/task_paths.h"
#include "download_engine/file_names.h"
#include "download_engine/size_rules.h"
#include "download_engine/slot_rules.h"
#include "download_engine/text.h"
#include "download_engine/transfer_plans.h"
#include "download_engine/zone_identifier.h"

namespace engine {

void Scheduler::Schedule() {
  if (!session_.IsOpen() || session_.Closing()) return;
  // Only tasks that hold or wait for a slot take part; the rule sees them in queue order.
  std::vector<Task*> tasks;
  for (Task* task : session_.Work().InOrder())
    if (task->transfer || task->state == TaskState::Queued) tasks.push_back(task);
  std::vector<SlotEntry> entries(tasks.size());
  for (size_t i = 0; i < tasks.size(); ++i) {
    const Task& task = *tasks[i];
    entries[i].hasTransfer = task.transfer != nullptr;
    entries[i].downloading =
        task.transfer && (task.state == TaskState::Connecting || task.state == TaskState::Downloading);
    entries[i].queued = task.state == TaskState::Queued;
    entries[i].startedMs = task.startedMs;
    entries[i].retryAtMs = task.retryAtMs;
  }
  SlotDecision decision = DecideSlots(entries, session_.Values().maxDownloads, NowMs());
  for (size_t index : decision.sendBack) {
    Task* task = tasks[index];
    task->transfer->Stop();
    task->requeueAfterTransfer = true;
    task->state = TaskState::Queued;
    events_.PostTask(task_event::kKindTask, *task);
  }
  for (size_t index : decision.start) StartTransfer(tasks[index]);
}

void Scheduler::StartTransfer(Task* task) {
  // Progress is only worth what the partial file still holds: a missing file
  // starts over, a shorter one resumes from where its bytes end.
  std::wstring note;
  if (task->Done() > 0) {
    int64_t length = SizeOf(PartialPathOf(*task));
    if (length < 0) {
      task->segments.clear();
      task->validator.clear();
      note = L"the partial file is gone; the download starts over";
    } else if (ClipToFile(&task->segments, length)) {
      note = L"the partial file is shorter than its progress; the download resumes from the bytes it has";
    }
  }
  task->transfer =
      std::make_shared<Transfer>(host_, session_.Limiter(), session_.Cookies(), PlanFor(*task, session_.Values()));
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
  events_.PostTask(task_event::kKindTask, *task);
  session_.SaveTask(*task);
}

// The transfer has the whole file: rename it and move the task to the finished list.
void Scheduler::Finish(Task* finishing) {
  Task& task = *finishing;
  if (task.state != TaskState::Completing) {
    task.state = TaskState::Completing;
    events_.PostTask(task_event::kKindTask, task);
    // Written ahead: a crash during the rename is finished on the next start.
    session_.SaveTask(task);
  }
  std::wstring partial = PartialPathOf(task);
  if (GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES) {
    std::wstring path = TargetPathOf(task);
    bool moved = MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved && (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)) {
      // Someone put a file of that name there meanwhile: never overwrite it.
      task.fileName = UniqueName(
          task.fileName, [&](const std::wstring& candidate) { return NameTaken(&task, task.folder, candidate); },
          MaxNameLength(task.folder));
      session_.Work().Retarget(&task);
      moved = MoveFileExW(partial.c_str(), TargetPathOf(task).c_str(), MOVEFILE_WRITE_THROUGH);
    }
    if (!moved) {
      DWORD code = GetLastError();
      task.state = TaskState::Failed;
      task.errorCode = static_cast<int32_t>(code);
      task.message = L"the finished file could not be renamed (Windows error " + std::to_wstring(code) + L")";
      events_.PostTask(task_event::kKindTask, task);
      session_.SaveTask(task);
      return;
    }
  }
  // Written where the volume allows it; the download is complete either way.
  WriteZoneIdentifier(TargetPathOf(task),
                      ZoneIdentifierText(task.finalUrl.empty() ? task.url : task.finalUrl, task.referrer));
  FinishedEntry entry;
  entry.id = task.id;
  entry.key = task.key;
  entry.url = task.url;
  entry.folder = task.folder;
  entry.fileName = task.fileName;
  entry.path = TargetPathOf(task);
  entry.size = task.size >= 0 ? task.size : task.Done();
  entry.finalUrl = task.finalUrl.empty() ? task.url : task.finalUrl;
  entry.contentType = task.contentType;
  entry.created = task.created;
  entry.finished = NowFileTime();
  uint64_t elapsed = task.startedMs ? NowMs() - task.startedMs : 0;
  int64_t moved = task.Done() - task.startBytes;
  entry.averageSpeed = elapsed > 0 ? ClampToUint32(static_cast<double>(moved) * 1000.0 / static_cast<double>(elapsed)) : 0;
  // The finished list first: a crash between the two saves finds the task finished.
  session_.Finished().Add(entry);
  session_.SaveFinished();
  std::unique_ptr<Task> done = session_.Work().Remove(&task);
  session_.SaveRemoved(entry.id);
  events_.PostFinished(entry, TaskState::Completed);
}

bool Scheduler::Responded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts,
                          std::wstring* partialPath, HttpError* error) {
  Task* task = session_.Work().FindId(taskId);
  if (!task || task->transfer.get() != transfer || session_.Closing() ||
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
    session_.Work().Retarget(task);
  }
  // A file that cannot fit fails now rather than filling the disk first.
  if (facts.size > 0) {
    int64_t onDisk = facts.restartedFromZero ? 0 : std::max<int64_t>(0, SizeOf(PartialPathOf(*task)));
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
  *partialPath = PartialPathOf(*task);
  events_.PostTask(task_event::kKindTask, *task);
  task->lastProgressEventMs = NowMs();
  session_.SaveTask(*task);
  return true;
}

void Scheduler::Ended(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome) {
  for (size_t i = 0; i < cleanups_.size(); ++i) {
    if (cleanups_[i].id == taskId && cleanups_[i].transfer == transfer) {
      DeleteFileW(cleanups_[i].partialPath.c_str());
      cleanups_.erase(cleanups_.begin() + static_cast<long>(i));
      return;
    }
  }
  Task* task = session_.Work().FindId(taskId);
  if (!task || task->transfer.get() != transfer) return;
  task->segments = outcome.segments;
  if (outcome.size >= 0) task->size = outcome.size;
  std::shared_ptr<Transfer> keep = std::move(task->transfer);
  if (session_.Closing()) return;
  task->speed = 0;
  if (task->cancelPending) {
    task->cancelPending = false;
    DeleteFileW(PartialPathOf(*task).c_str());
    task->segments.clear();
    task->validator.clear();
    task->fileName.clear();
    if (!task->requestedName.empty()) {
      task->fileName = UniqueName(
          task->requestedName, [&](const std::wstring& candidate) { return NameTaken(task, task->folder, candidate); },
          MaxNameLength(task->folder));
    }
    session_.Work().Retarget(task);
    events_.PostTask(task_event::kKindTask, *task);
  } else if (outcome.result == TransferResult::Completed) {
    // Finish saves what it changed; the task may be gone from the list after it.
    Finish(task);
    Schedule();
    return;
  } else if (task->requeueAfterTransfer ||
             (task->state != TaskState::Connecting && task->state != TaskState::Downloading)) {
    // Stopped by the page (state already reported) or sent back to the queue.
    task->requeueAfterTransfer = false;
    events_.PostTask(task_event::kKindTask, *task);
  } else if (outcome.result == TransferResult::Failed && outcome.error.transient && task->retriesLeft > 0) {
    --task->retriesLeft;
    task->state = TaskState::Queued;
    task->message = outcome.error.message + L"; trying again";
    task->errorCode = outcome.error.code;
    task->retryAtMs = NowMs() + static_cast<uint64_t>(std::max(0, session_.Values().retryDelayMs));
    events_.PostTask(task_event::kKindTask, *task);
  } else {
    task->state = TaskState::Failed;
    task->message = outcome.result == TransferResult::Stopped ? L"stopped" : outcome.error.message;
    task->errorCode = outcome.error.code;
    events_.PostTask(task_event::kKindTask, *task);
  }
  session_.SaveTask(*task);
  Schedule();
}

// A task the page stopped or cancelled waits for nothing more (no retry, no
// requeue), and every page hears of it.
void Scheduler::Halt(Task* task, TaskState state) {
  task->state = state;
  task->requeueAfterTransfer = false;
  task->retryAtMs = 0;
  task->interrupted = false;
  events_.PostTask(task_event::kKindTask, *task);
  session_.SaveTask(*task);
  Schedule();
}

bool Scheduler::NameTaken(const Task* self, const std::wstring& folder, const std::wstring& name) const {
  if (session_.Work().TargetTaken(self, folder, name)) return true;
  std::wstring path = (folder.back() == L'\\' ? folder : folder + L"\\") + name;
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // Another task's leftover partial file is not ours to continue.
  std::wstring partial = path + kPartialSuffix;
  bool ownPartial = self && SameFileName(self->folder, folder) && SameFileName(self->fileName, name);
  return !ownPartial && GetFileAttributesW(partial.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Scheduler::ApplyAutoStart() {
  for (Task* task : session_.Work().InOrder()) {
    if (!task->interrupted) continue;
    task->interrupted = false;
    if (session_.Values().autoStart && task->state == TaskState::Stopped) {
      task->state = TaskState::Queued;
      task->retriesLeft = session_.Values().retries;
      events_.PostTask(task_event::kKindTask, *task);
    }
  }
  session_.SaveWork();
  Schedule();
}

void Scheduler::DeleteWhenEnded(const Task& removed, const std::wstring& partialPath) {
  cleanups_.push_back(Cleanup{removed.id, removed.transfer.get(), partialPath, removed.transfer});
}

void Scheduler::Tick(uint64_t now) {
  if (!session_.IsOpen() || session_.Closing()) return;
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
      events_.PostTask(task_event::kKindTask, *task);
    }
    // A checkpoint: the progress of each running transfer.
    if (save) session_.SaveTask(*task);
  }
  if (save) session_.CheckpointTaken(now);
  if (retryDue) Schedule();
}

void Scheduler::StopAll() {
  for (Task* task : session_.Work().InOrder()) {
    if (task->state == TaskState::Queued || Running(task->state)) task->interrupted = true;
    if (task->transfer) task->transfer->Stop();
  }
}

bool Scheduler::Busy() const {
  // Deleted tasks still closing their file count too: their delete waits for it.
  bool busy = !cleanups_.empty();
  for (Task* task : session_.Work().InOrder()) busy = busy || task->transfer != nullptr;
  return busy;
}

void Scheduler::AbandonAll() {
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
}

}  // namespace engine
