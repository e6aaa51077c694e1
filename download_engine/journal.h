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
};

class Journal {
 public:
  explicit Journal(const std::wstring& folder);

  // A file that fails its check is set aside (".damaged") and counts as empty.
  JournalContent Load();
  unsigned long SaveWork(const std::vector<Task>& work, uint64_t nextId);
  unsigned long SaveFinished(const std::vector<FinishedEntry>& finished);

 private:
  std::wstring workPath_;
  std::wstring finishedPath_;
};

// The encoded files, exposed for the tests of the format.
std::string EncodeWork(const std::vector<Task>& work, uint64_t nextId);
std::string EncodeFinished(const std::vector<FinishedEntry>& finished);
bool DecodeWork(const std::string& bytes, std::vector<Task>* work, uint64_t* nextId);
bool DecodeFinished(const std::string& bytes, std::vector<FinishedEntry>* finished);

}  // namespace engine
