// The finished list: entries of completed tasks, deleted by the page by key
// and path (a tombstone keeps a late ArchiveTask from bringing one back),
// listed, and archived from a page's event.
#include "download_engine/engine.h"

#include <algorithm>

#include "download_engine/engine_common.h"
#include "download_engine/file_names.h"
#include "download_engine/task_texts.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

Status Engine::DeleteFinished(const std::wstring& key, const std::wstring& path, bool deleteFile) {
  ENGINE_OPEN_OR_RETURN();
  // Only the entry the page names by its path: a page that deletes a working
  // task passes an empty path, and the finished copies of the same address
  // (and their files) are the user's to keep.
  if (path.empty()) return Ok();
  std::wstring normalized = NormalizeUrl(key);
  std::wstring wanted = ReplaceAll(path, L"/", L"\\");
  // Entries of the same path name the same file (downloaded again after it was
  // deleted): the newest one wrote what is there now, and the file goes only
  // while it is still that file.
  const FinishedEntry* newest = session_.Finished().NewestNamed(normalized, wanted);
  if (newest == nullptr) return Ok();
  if (deleteFile && SizeOf(newest->path) == newest->size) DeleteFileW(newest->path.c_str());
  for (const FinishedEntry& removed : session_.Finished().RemoveNamed(normalized, wanted)) events_.PostFinished(removed, TaskState::Removed);
  session_.SaveFinished();
  return Ok();
}

Status Engine::ListFinishedTexts(std::vector<std::wstring>* texts) {
  ENGINE_OPEN_OR_RETURN();
  texts->clear();
  for (const auto& entry : session_.Finished().Entries()) texts->push_back(FinishedText(entry));
  return Ok();
}

Status Engine::Archive(const ArchiveRecord& record) {
  ENGINE_OPEN_OR_RETURN();
  // Only completed tasks belong in the finished list; a removal also ends with kind 5.
  if (record.complete != 1) return Ok();
  std::wstring key = NormalizeUrl(record.key);
  if (session_.Finished().Knows(key, record.path, record.finished)) return Ok();
  FinishedEntry entry;
  std::wstring reason;
  if (!EntryFromArchive(record, &entry, &reason)) return BadArgument(reason);
  // Only a file that is there as described: the finished list is what DeleteDownload2 may delete.
  if (SizeOf(record.path) != record.size) return BadArgument(L"the archived file is not there with that size");
  entry.id = session_.TakeId();
  session_.Finished().Add(entry);
  session_.SaveFinished();
  return Ok();
}

}  // namespace engine
