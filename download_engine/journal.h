// The task journal: the work list and the finished list in two files of the
// data folder, each replaced whole (write, flush, rename), so a crash at any
// moment loses no finished task and corrupts nothing. The finished list is
// written first when a task moves there; on loading, a work task that is also
// in the finished list is dropped.
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
};

class Journal {
 public:
  explicit Journal(const std::wstring& folder);

  // A file that fails its check is set aside (".damaged"); the records in it
  // that pass their own check and the rules are loaded. A leftover "<file>.new"
  // of an interrupted save is taken when the file itself is missing and the
  // leftover is whole, and removed otherwise.
  JournalContent Load();
  unsigned long SaveWork(const std::vector<Task>& work, uint64_t nextId);
  unsigned long SaveFinished(const std::vector<FinishedEntry>& finished);

 private:
  std::wstring workPath_;
  std::wstring finishedPath_;
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
