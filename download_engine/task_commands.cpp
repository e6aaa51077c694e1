// The task commands of the Download object (create, stop, cancel, delete, move,
// import, cookies, queries) and the look-ups they share.
#include "download_engine/task_commands.h"

#include <algorithm>

#include "download_engine/engine_common.h"
#include "download_engine/task_paths.h"
#include "download_engine/task_events.h"
#include "download_engine/file_names.h"
#include "download_engine/task_texts.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

Task* TaskCommands::Find(const std::wstring& key) { return session_.Work().Find(NormalizeUrl(key)); }

// Checks the page's input into the task; a failing check leaves the task failed with the reason.
bool TaskCommands::Validate(Task* task, const std::wstring& url, const std::wstring& folder,
                            const std::wstring& fileName, const std::wstring& referrer) {
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
          fileName, [&](const std::wstring& candidate) { return scheduler_.NameTaken(task, checkedFolder, candidate); },
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
  session_.Work().Retarget(task);
  return ok;
}

Status TaskCommands::Create(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                            const std::wstring& referrer, long connections, long flags, BYTE* state) {
  Task* task = Find(url);
  if (task && !Restartable(task->state)) {
    *state = static_cast<BYTE>(task->state);
    return Ok();
  }
  if (!task) {
    auto created = std::make_unique<Task>();
    created->id = session_.TakeId();
    created->key = NormalizeUrl(url);
    created->created = NowFileTime();
    task = session_.Work().Append(std::move(created));
    task->state = TaskState::Queued;
    Validate(task, url, folder, fileName, referrer);
  } else if (task->Done() == 0 && !task->transfer) {
    // Nothing downloaded yet: what the page gives now replaces what it gave
    // before (and may correct what made the task fail); what it leaves empty
    // stays. A partial file of the task holds nothing it can vouch for.
    if (!task->fileName.empty()) DeleteFileW(PartialPathOf(*task).c_str());
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
    task->retriesLeft = std::max(0, session_.Values().retries);
    task->retryAtMs = 0;
    task->interrupted = false;
  }
  bool placed = (flags & kAddFirst) && session_.Work().PositionOf(*task) > 0;
  if (placed) session_.Work().MoveTo(task, 0);
  events_.PostTask(task_event::kKindTask, *task);
  session_.SaveTask(*task, placed);
  scheduler_.Schedule();
  *state = static_cast<BYTE>(task->state);
  return Ok();
}

Status TaskCommands::Stop(const std::wstring& key) {
  Task* task = Find(key);
  if (!task || !(task->state == TaskState::Queued || task->state == TaskState::Connecting ||
                 task->state == TaskState::Downloading))
    return Ok();
  if (task->transfer) task->transfer->Stop();
  scheduler_.Halt(task, TaskState::Stopped);
  return Ok();
}

Status TaskCommands::Cancel(const std::wstring& key) {
  Task* task = Find(key);
  if (!task || task->state == TaskState::Completing || task->state == TaskState::Cancelled) return Ok();
  if (task->transfer) {
    task->transfer->Stop();
    task->cancelPending = true;
  } else {
    if (!task->fileName.empty()) DeleteFileW(PartialPathOf(*task).c_str());
    task->segments.clear();
    task->validator.clear();
    if (task->requestedName.empty()) task->fileName.clear();
    session_.Work().Retarget(task);
  }
  task->message.clear();
  task->errorCode = 0;
  scheduler_.Halt(task, TaskState::Cancelled);
  return Ok();
}

Status TaskCommands::Delete(const std::wstring& key, bool deleteFile) {
  Task* task = Find(key);
  if (!task) return Ok();
  std::unique_ptr<Task> removed = session_.Work().Remove(task);
  std::wstring partial = PartialPathOf(*removed);
  if (removed->transfer) {
    removed->transfer->Stop();
    if (deleteFile && !partial.empty()) scheduler_.DeleteWhenEnded(*removed, partial);
  } else if (deleteFile && !partial.empty()) {
    DeleteFileW(partial.c_str());
  }
  removed->state = TaskState::Removed;
  events_.PostRemoved(*removed);
  session_.SaveRemoved(removed->id);
  scheduler_.Schedule();
  return Ok();
}

Status TaskCommands::Move(const std::wstring& key, BYTE position) {
  Task* task = Find(key);
  if (!task) return Ok();
  size_t target = std::min<size_t>(position, session_.Work().Size() - 1);
  if (target == session_.Work().PositionOf(*task)) return Ok();
  session_.Work().MoveTo(task, target);
  // The moved task's new place; the ones it passed are not sent (engine_events.cpp).
  events_.PostTask(task_event::kKindRecord, *task);
  session_.SaveTask(*task, true);
  scheduler_.Schedule();
  return Ok();
}

Status TaskCommands::Import(const std::wstring& text) {
  std::vector<ImportLine> lines;
  std::wstring reason;
  if (!ParseImportText(text, &lines, &reason)) return BadArgument(reason);
  std::vector<const Task*> added;
  for (const auto& line : lines) {
    if (Find(line.url)) continue;
    auto created = std::make_unique<Task>();
    created->id = session_.TakeId();
    created->key = NormalizeUrl(line.url);
    created->created = NowFileTime();
    created->connections = line.connections;
    Task* task = session_.Work().Append(std::move(created));
    if (Validate(task, line.url, line.folder, line.fileName, line.referrer)) {
      task->state = session_.Values().autoStart ? TaskState::Queued : TaskState::Stopped;
      task->retriesLeft = std::max(0, session_.Values().retries);
    }
    events_.PostTask(task_event::kKindTask, *task);
    added.push_back(task);
  }
  session_.SaveAdded(added);
  scheduler_.Schedule();
  return Ok();
}

Status TaskCommands::SetCookie(const std::wstring& text, bool persistent) {
  Cookie cookie;
  std::wstring reason;
  if (!ParseCookie(text, persistent, &cookie, &reason)) return BadArgument(reason);
  session_.Cookies()->Set(cookie);
  return session_.Store().SetCookies(session_.Cookies()->Persistent());
}

Status TaskCommands::ClearCookies() {
  session_.Cookies()->Clear();
  return session_.Values().cookies.empty() ? Ok() : session_.Store().SetCookies({});
}

Status TaskCommands::ResourceSize(const std::wstring& key, long* size) {
  *size = -1;
  if (Task* task = Find(key)) {
    *size = task->size < 0 ? -1 : ClampToLong(task->size);
    return Ok();
  }
  if (const FinishedEntry* entry = session_.Finished().NewestOf(NormalizeUrl(key))) *size = ClampToLong(entry->size);
  return Ok();
}

Status TaskCommands::BlockStatus(const std::wstring& key, std::wstring* text, long* count) {
  text->clear();
  *count = 0;
  int64_t size = -1;
  std::vector<Segment> segments;
  if (Task* task = Find(key)) {
    int64_t received;
    segments = CurrentSegments(*task, &received);
    size = task->size;
  } else if (const FinishedEntry* entry = session_.Finished().NewestOf(NormalizeUrl(key))) {
    size = entry->size;
    segments.push_back(Segment{0, size, size});
  }
  *text = BlockStatusText(size, segments);
  *count = static_cast<long>(text->size());
  return Ok();
}

Status TaskCommands::TotalSpeed(long* bytesPerSecond) {
  int64_t total = 0;
  for (const Task* task : session_.Work().InOrder())
    if (task->transfer) total += task->speed;
  *bytesPerSecond = ClampToLong(total);
  return Ok();
}

Status TaskCommands::DownloadingCount(long* count) {
  long running = 0;
  for (const Task* task : session_.Work().InOrder()) running += Running(task->state) ? 1 : 0;
  *count = running;
  return Ok();
}

Status TaskCommands::WorkKeys(std::vector<std::wstring>* keys) {
  keys->clear();
  for (const Task* task : session_.Work().InOrder()) keys->push_back(task->key);
  return Ok();
}

Status TaskCommands::Query(const std::wstring& key, TaskInfo* info, bool* found) {
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
  if (const FinishedEntry* entry = session_.Finished().NewestOf(NormalizeUrl(key))) {
    info->url = entry->url;
    info->folder = entry->folder;
    info->fileName = entry->fileName;
    info->message.clear();
    info->state = static_cast<uint8_t>(TaskState::Completed);
    info->size = entry->size;
    info->done = entry->size;
    info->speed = entry->averageSpeed;
    *found = true;
  }
  return Ok();
}

}  // namespace engine
