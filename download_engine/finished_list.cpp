#include "download_engine/finished_list.h"

#include "download_engine/text.h"

namespace engine {

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
