// The work list's file and the log of changes after it, read back after what a
// crash or a damaged disk leaves: a record cut short, a record with a flipped
// byte, a log that belongs to an older file, a file written by an engine that
// knows no log. Each case runs the same changes through a plain list kept
// beside the journal and compares what loading gives back.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>

#include "download_engine/atomic_file.h"
#include "download_engine/journal.h"

namespace {

using namespace engine;

Task Stopped(uint64_t id) {
  Task task;
  task.id = id;
  task.key = task.url = L"http://h/t" + std::to_wstring(id);
  task.folder = L"C:\\Downloads";
  task.fileName = L"t" + std::to_wstring(id) + L".bin";
  task.state = TaskState::Stopped;
  task.created = 133000000000000000LL;
  return task;
}

std::string Describe(const std::vector<Task>& work) {
  std::string text;
  for (const auto& task : work) {
    text += std::to_string(task.id) + ":" + std::to_string(static_cast<int>(task.state)) + ":" +
            std::to_string(task.segments.empty() ? -1 : task.segments[0].done) + " ";
  }
  return text;
}

class JournalLog : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"halvo-journal-log-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    Clean();
  }
  void TearDown() override {
    Clean();
    RemoveDirectoryW(folder_.c_str());
  }
  void Clean() {
    for (const wchar_t* name : {L"work.journal", L"finished.journal", L"work.log", L"work.journal.new",
                                L"work.log.new", L"work.journal.damaged", L"work.log.damaged",
                                L"finished.journal.damaged"})
      DeleteFileW(Path(name).c_str());
  }
  std::wstring Path(const wchar_t* name) const { return folder_ + L"\\" + name; }
  std::string Read(const wchar_t* name) {
    std::string bytes;
    ReadWholeFile(Path(name), &bytes);
    return bytes;
  }
  void Write(const wchar_t* name, const std::string& bytes) { ASSERT_EQ(0u, ReplaceFileContent(Path(name), bytes)); }

  // What the engine does on its changes: a few tasks added, one changed, one
  // moved to the front, one removed; each logged as it happens.
  void Change(Journal* journal, std::vector<Task>* model, uint64_t* nextId, int steps, unsigned seed) {
    std::mt19937 random(seed);
    for (int step = 0; step < steps; ++step) {
      int what = model->empty() ? 0 : static_cast<int>(random() % 4);
      if (what == 0) {
        Task task = Stopped((*nextId)++);
        model->push_back(task);
        ASSERT_EQ(0u, journal->LogTask(task, false, 0, *nextId));
      } else if (what == 1) {
        Task& task = (*model)[random() % model->size()];
        task.state = TaskState::Failed;
        task.segments = {{0, 1000, static_cast<int64_t>(random() % 1000)}};
        ASSERT_EQ(0u, journal->LogTask(task, false, 0, *nextId));
      } else if (what == 2) {
        size_t from = random() % model->size(), to = random() % std::min<size_t>(model->size(), 256);
        Task task = (*model)[from];
        model->erase(model->begin() + static_cast<long>(from));
        model->insert(model->begin() + static_cast<long>(to), task);
        ASSERT_EQ(0u, journal->LogTask(task, true, to, *nextId));
      } else {
        size_t at = random() % model->size();
        ASSERT_EQ(0u, journal->LogRemoved((*model)[at].id));
        model->erase(model->begin() + static_cast<long>(at));
      }
      if (journal->NeedsSave(model->size())) {
        ASSERT_EQ(0u, journal->SaveWork(*model, *nextId));
      }
    }
  }

  std::wstring folder_;
};

TEST_F(JournalLog, WhatACrashOrADamagedDiskLeavesLoadsEverySoundChangeAndNothingElse) {
  enum class Damage { None, TornTail, GarbledHeader, OlderWorkFile, WorkFileReplacedAfterCrash };
  const struct {
    Damage damage;
    const char* name;
  } cases[] = {
      {Damage::None, "intact"},
      {Damage::TornTail, "the last record cut short"},
      {Damage::GarbledHeader, "the log's first line garbled"},
      {Damage::OlderWorkFile, "an engine that knows no log wrote the work file since"},
      {Damage::WorkFileReplacedAfterCrash, "the work file written, the crash before the fresh log"},
  };
  for (const auto& c : cases) {
    Clean();
    std::vector<Task> model;
    uint64_t nextId = 1;
    {
      Journal journal(folder_);
      journal.Load();
      for (int i = 0; i < 5; ++i) model.push_back(Stopped(nextId++));
      ASSERT_EQ(0u, journal.SaveWork(model, nextId));
      Change(&journal, &model, &nextId, 12, 3);
    }
    std::vector<Task> expected = model;
    std::string log = Read(L"work.log");
    size_t lastLine = log.rfind('\n', log.size() - 2) + 1;
    bool damaged = false;
    switch (c.damage) {
      case Damage::None:
        break;
      case Damage::TornTail: {
        // The expected list is the one before the last change: replay it from a second run.
        Write(L"work.log", log.substr(0, lastLine + (log.size() - lastLine) / 2));
        break;
      }
      case Damage::GarbledHeader:
        log[3] = '#';
        Write(L"work.log", log);
        damaged = true;
        break;
      case Damage::OlderWorkFile:
        expected = {Stopped(1), Stopped(2)};
        Write(L"work.journal", EncodeWork(expected, 3));
        break;
      case Damage::WorkFileReplacedAfterCrash:
        Write(L"work.journal", EncodeWork(model, nextId));
        break;
    }
    Journal journal(folder_);
    JournalContent content = journal.Load();
    if (c.damage == Damage::TornTail) {
      // Every change but the last one: the same changes stopped one short.
      std::vector<Task> shorter;
      uint64_t id = 1;
      Clean();
      Journal again(folder_);
      again.Load();
      for (int i = 0; i < 5; ++i) shorter.push_back(Stopped(id++));
      ASSERT_EQ(0u, again.SaveWork(shorter, id));
      Change(&again, &shorter, &id, 11, 3);
      expected = shorter;
    }
    if (c.damage == Damage::GarbledHeader) {
      // The log says nothing: the work file as last written (five tasks).
      EXPECT_EQ(Describe({Stopped(1), Stopped(2), Stopped(3), Stopped(4), Stopped(5)}), Describe(content.work));
      EXPECT_TRUE(content.logDamaged) << c.name;
      EXPECT_FALSE(Read(L"work.log.damaged").empty()) << "kept for a look: " << c.name;
      continue;
    }
    EXPECT_EQ(Describe(expected), Describe(content.work)) << c.name;
    EXPECT_EQ(damaged, content.logDamaged) << c.name;
  }
}

TEST_F(JournalLog, AFlippedByteInOneRecordLosesThatChangeAloneAndTheWorkFileIsWrittenAtOnce) {
  std::vector<Task> work = {Stopped(1), Stopped(2), Stopped(3)};
  {
    Journal journal(folder_);
    journal.Load();
    ASSERT_EQ(0u, journal.SaveWork(work, 4));
    Task changed = Stopped(1);
    changed.state = TaskState::Failed;
    ASSERT_EQ(0u, journal.LogTask(changed, false, 0, 4));  // this record gets the flipped byte
    ASSERT_EQ(0u, journal.LogTask(Stopped(4), false, 0, 5));
    ASSERT_EQ(0u, journal.LogTask(Stopped(3), true, 0, 5));
    ASSERT_EQ(0u, journal.LogRemoved(2));
  }
  std::string log = Read(L"work.log");
  size_t firstRecord = log.find('\n') + 1;
  log[firstRecord + 12] ^= 0x04;
  Write(L"work.log", log);
  Journal journal(folder_);
  JournalContent content = journal.Load();
  EXPECT_EQ(Describe({Stopped(3), Stopped(1), Stopped(4)}), Describe(content.work));
  EXPECT_TRUE(content.logDamaged);
  EXPECT_TRUE(content.needsSave);
  EXPECT_EQ(log, Read(L"work.log.damaged"));
}

TEST_F(JournalLog, AWorkFileOfThePresentFormatWithoutALogLoadsEveryTask) {
  // As every engine before the log wrote it.
  std::vector<Task> work = {Stopped(7), Stopped(3), Stopped(9)};
  Write(L"work.journal", EncodeWork(work, 12));
  Journal journal(folder_);
  JournalContent content = journal.Load();
  EXPECT_EQ(Describe(work), Describe(content.work));
  EXPECT_EQ(12u, content.nextId);
  EXPECT_FALSE(content.workDamaged);
  EXPECT_FALSE(content.logDamaged);
  // Changes from now on go to a log that follows this very file.
  Task moved = Stopped(9);
  ASSERT_EQ(0u, journal.LogTask(moved, true, 0, 12));
  Journal reloaded(folder_);
  EXPECT_EQ(Describe({Stopped(9), Stopped(7), Stopped(3)}), Describe(reloaded.Load().work));
}

TEST_F(JournalLog, WritingTheWholeListWhenTheLogIsFullKeepsEveryTaskItsStateAndItsPlace) {
  std::vector<Task> model;
  uint64_t nextId = 1;
  std::string lastSaved;
  int saves = 0;
  // A small bound reaches the whole writing every few dozen changes: each
  // change is flushed to disk, which the emulated 32-bit PC pays dearly for.
  const size_t bound = 24;
  {
    Journal journal(folder_, bound);
    journal.Load();
    std::mt19937 random(11);
    for (int step = 0; step < 200; ++step) {
      Change(&journal, &model, &nextId, 1, static_cast<unsigned>(random()));
      if (HasFatalFailure()) return;
      std::string now = Read(L"work.journal");
      if (now != lastSaved) ++saves;
      lastSaved = now;
    }
  }
  EXPECT_GE(saves, 3) << "the log reached its bound and the list was written whole";
  EXPECT_LT(Read(L"work.log").size(), std::max(bound, model.size()) * 400u) << "the log stays within its bound";
  Journal journal(folder_);
  JournalContent content = journal.Load();
  EXPECT_EQ(Describe(model), Describe(content.work));
  EXPECT_GE(content.nextId, nextId);
}

TEST_F(JournalLog, ATaskInTheFinishedListIsDroppedFromTheLoggedWorkList) {
  // A crash after the finished list was written and before the log's removal.
  {
    Journal journal(folder_);
    journal.Load();
    ASSERT_EQ(0u, journal.SaveWork({Stopped(1)}, 2));
    ASSERT_EQ(0u, journal.LogTask(Stopped(2), false, 0, 3));
    FinishedEntry entry;
    entry.id = 2;
    entry.key = entry.url = L"http://h/t2";
    entry.folder = L"C:\\Downloads";
    entry.fileName = L"t2.bin";
    entry.path = L"C:\\Downloads\\t2.bin";
    entry.size = 10;
    ASSERT_EQ(0u, journal.SaveFinished({entry}));
  }
  Journal journal(folder_);
  JournalContent content = journal.Load();
  EXPECT_EQ(Describe({Stopped(1)}), Describe(content.work));
  EXPECT_EQ(1u, content.finished.size());
}

}  // namespace
