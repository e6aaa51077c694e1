// The task journal: the work list and the finished list in files of the data
// folder. The finished list is replaced whole on every change (write, flush,
// rename). The work list's file is replaced whole only now and then; between
// those writes each change of one task is appended to a log beside it (one
// record, flushed), so a change costs the same with ten or ten thousand tasks.
// A crash at any moment loses no finished task and corrupts nothing: the
// finished list is written first when a task moves there, and on loading a
// work task that is also in the finished list is dropped.
//
// The work file keeps the format it always had, complete as of its last
// writing, and every session's end writes it whole: an engine that knows no
// log reads a sound work list from it. The log names the work file it follows
// by that file's checksum, so a log left from before the file was last written
// (a crash between the two writes, or an engine that knows no log ran since)
// is passed over.
#pragma once

#include <string>
#include <vector>

#include "download_engine/task.h"

namespace engine {

struct JournalContent {
  std::vector<Task> work;
  std::vector<FinishedEntry> finished;
  uint64_t nextId = 1;
  // The file failed its check and was set aside; only its sound records were loaded.
  bool workDamaged = false;
  bool finishedDamaged = false;
  // The log had a record that failed its check (dropped alone, the log kept
  // beside as "work.log.damaged"), or could not be read as a log at all.
  bool logDamaged = false;
  size_t logChanges = 0;  // records taken from the log
  // The work file should be written whole now: it is missing or damaged, or
  // the log holds records (it is only ever appended to after a fresh start).
  bool needsSave = false;
};

// The log is written whole again once it holds this many records, or as many
// as the work list has tasks, whichever is more.
constexpr size_t kMinLogRecords = 512;

class Journal {
 public:
  // minLogRecords: the smallest bound of the log (tests use a small one to
  // reach it in a few changes).
  explicit Journal(const std::wstring& folder, size_t minLogRecords = kMinLogRecords);
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();

  // A file that fails its check is set aside (".damaged"); the records in it
  // that pass their own check and the rules are loaded. A leftover "<file>.new"
  // of an interrupted save is taken when the file itself is missing and the
  // leftover is whole, and removed otherwise. The log's records that pass
  // their check are applied in order; a last one cut short is dropped.
  JournalContent Load();
  // The whole work list, then a fresh, empty log after it.
  unsigned long SaveWork(const std::vector<Task>& work, uint64_t nextId);
  // One task as it is now, appended to the log; placed: it was put at that
  // place of the list (new, or moved), else a new task is last and a known
  // one keeps its place.
  unsigned long LogTask(const Task& task, bool placed, size_t position, uint64_t nextId);
  // New tasks, last in the list in this order: one write.
  unsigned long LogAdded(const std::vector<Task>& tasks, uint64_t nextId);
  unsigned long LogRemoved(uint64_t id);
  // The whole list should be written now (SaveWork): the log has grown to its
  // bound for a list of this size, or an append failed.
  bool NeedsSave(size_t workSize) const;
  unsigned long SaveFinished(const std::vector<FinishedEntry>& finished);

 private:
  unsigned long StartLog();
  unsigned long Append(const std::vector<std::vector<std::wstring>>& records);
  void CloseLog();

  std::wstring workPath_;
  std::wstring finishedPath_;
  std::wstring logPath_;
  void* log_ = nullptr;  // the log's handle, open for appending
  unsigned long long base_ = 0;  // checksum of the work file on disk
  bool logHasContent_ = false;  // the log on disk has records not yet in the work file
  bool logBroken_ = false;
  size_t logRecords_ = 0;
  size_t minLogRecords_;
};

// The encoded files, exposed for the tests of the format. Decoding answers
// true for an intact file; for a damaged one it answers false and gives the
// records that still pass their own check. A record whose numbers are out of
// range, or a finished entry whose path is not a plain name inside a folder
// that passes the folder rules, counts as damaged.
std::string EncodeWork(const std::vector<Task>& work, uint64_t nextId);
std::string EncodeFinished(const std::vector<FinishedEntry>& finished);
bool DecodeWork(const std::string& bytes, std::vector<Task>* work, uint64_t* nextId);
bool DecodeFinished(const std::string& bytes, std::vector<FinishedEntry>* finished);

}  // namespace engine
