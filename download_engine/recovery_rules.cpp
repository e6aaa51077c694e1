#include "download_engine/recovery_rules.h"

#include "download_engine/file_names.h"
#include "download_engine/size_rules.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

bool RecheckFromJournal(Task* task) {
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

}  // namespace engine
