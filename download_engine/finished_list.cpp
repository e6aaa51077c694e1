#include "download_engine/finished_list.h"

#include "download_engine/file_names.h"
#include "download_engine/text.h"
#include "download_engine/url_check.h"

namespace engine {

bool EntryFromArchive(const ArchiveRecord& record, FinishedEntry* entry, std::wstring* reason) {
  size_t cut = record.path.find_last_of(L'\\');
  if (record.path.empty() || cut == std::wstring::npos || record.fileName.empty()) {
    *reason = L"an archived task needs its path and file name";
    return false;
  }
  std::wstring folder = record.path.substr(0, cut == 2 ? 3 : cut);
  if (!IsFileInFolder(folder, record.fileName, record.path)) {
    *reason = L"an archived task's path must be its file name inside its folder";
    return false;
  }
  entry->key = NormalizeUrl(record.key);
  entry->url = NormalizeUrl(record.url.empty() ? record.key : record.url);
  entry->folder = folder;
  entry->fileName = record.fileName;
  entry->path = record.path;
  entry->size = record.size;
  entry->finalUrl = record.finalUrl;
  entry->contentType = record.contentType;
  entry->averageSpeed = record.averageSpeed;
  if (!ParseUtcTime(record.created, &entry->created)) entry->created = 0;
  if (!ParseUtcTime(record.finished, &entry->finished)) entry->finished = NowFileTime();
  return true;
}

void FinishedList::Reset(std::vector<FinishedEntry> entries) {
  entries_ = std::move(entries);
  tombstones_.clear();
}

const FinishedEntry* FinishedList::NewestOf(const std::wstring& key) const {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
    if (entry->key == key) return &*entry;
  return nullptr;
}

const FinishedEntry* FinishedList::NewestNamed(const std::wstring& key, const std::wstring& path) const {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
    if (entry->key == key && SameFileName(entry->path, path)) return &*entry;
  return nullptr;
}

std::vector<FinishedEntry> FinishedList::RemoveNamed(const std::wstring& key, const std::wstring& path) {
  std::vector<FinishedEntry> removed;
  for (size_t i = 0; i < entries_.size();) {
    if (entries_[i].key != key || !SameFileName(entries_[i].path, path)) {
      ++i;
      continue;
    }
    tombstones_.push_back(Tombstone{entries_[i].key, entries_[i].path, FormatUtcTime(entries_[i].finished)});
    removed.push_back(std::move(entries_[i]));
    entries_.erase(entries_.begin() + static_cast<long>(i));
  }
  return removed;
}

bool FinishedList::Knows(const std::wstring& key, const std::wstring& path, const std::wstring& finished) const {
  for (const auto& entry : entries_)
    if (entry.key == key && SameFileName(entry.path, path) && FormatUtcTime(entry.finished) == finished) return true;
  for (const auto& stone : tombstones_)
    if (stone.key == key && SameFileName(stone.path, path) && stone.finished == finished) return true;
  return false;
}

}  // namespace engine
