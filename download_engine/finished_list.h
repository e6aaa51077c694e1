// The finished list: the entries of completed tasks in the order they
// finished, and the tombstones of entries the page deleted, so that a late
// ArchiveTask of the same download does not bring one back. Keys are the
// normalised addresses; paths are compared as Windows compares file names.
#pragma once

#include <string>
#include <vector>

#include "download_engine/task.h"

namespace engine {

// The 13 values a page's event sink hands back for an event of kind 5.
struct ArchiveRecord {
  uint8_t connections = 0;
  std::wstring fileName;
  int64_t size = 0;
  std::wstring path;
  std::wstring finalUrl;
  std::wstring contentType;
  std::wstring key;
  std::wstring url;
  std::wstring created;
  std::wstring finished;
  uint32_t averageSpeed = 0;
  uint8_t complete = 0;
  long reserved = 0;
};

// The entry an archived record describes (all but its id), when the list may
// hold it: its path must be its plain file name inside a folder that passes
// the folder rules, since the list decides which files DeleteDownload2 may
// delete. Whether the file is there is the caller's check. False with the
// reason otherwise.
bool EntryFromArchive(const ArchiveRecord& record, FinishedEntry* entry, std::wstring* reason);

class FinishedList {
 public:
  // A session's list as the journal kept it; the tombstones start empty.
  void Reset(std::vector<FinishedEntry> entries);
  // Every entry goes (the session closes); the tombstones stay until Reset.
  void Clear() { entries_.clear(); }

  const std::vector<FinishedEntry>& Entries() const { return entries_; }
  void Add(FinishedEntry entry) { entries_.push_back(std::move(entry)); }

  // The newest entry of the key; null when there is none.
  const FinishedEntry* NewestOf(const std::wstring& key) const;
  // The newest entry of the key whose path names that file; null when there is none.
  const FinishedEntry* NewestNamed(const std::wstring& key, const std::wstring& path) const;
  // Takes out every entry of the key with that path, each leaving a
  // tombstone; returns them in list order.
  std::vector<FinishedEntry> RemoveNamed(const std::wstring& key, const std::wstring& path);
  // An entry or a tombstone of this key, path and finishing time (as the
  // event wrote it): archiving it again would add nothing, or undo a delete.
  bool Knows(const std::wstring& key, const std::wstring& path, const std::wstring& finished) const;

 private:
  struct Tombstone {
    std::wstring key;
    std::wstring path;
    std::wstring finished;
  };
  std::vector<FinishedEntry> entries_;
  std::vector<Tombstone> tombstones_;
};

}  // namespace engine
