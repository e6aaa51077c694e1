// The engine's session on its own, over a data folder of the test's own: what
// a crash left in the journal comes back stopped, finished or failed as the
// files on disk allow, the close writes it so that the next session finds the
// same, and one data folder has one session at a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "download_engine/journal.h"
#include "download_engine/session.h"
#include "tests/download_engine/scratch_folder.h"
#include "download_engine/task_paths.h"

namespace {

using namespace engine;

class SessionTest : public ::testing::Test {
 protected:
  static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  static void Write(const std::wstring& path, const char* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr);
    CloseHandle(file);
  }
  ScratchFolder scratch_{L"session"};
  const std::wstring folder_ = scratch_.Path();
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST_F(SessionTest, WhatACrashLeftComesBackAsTheFilesOnDiskAllowAndTheCloseKeepsIt) {
  enum Files { kNone, kPartial, kTarget };
  const struct {
    const char* what;
    TaskState saved;
    Files files;
    bool finished;  // handed to the finish step
    TaskState state;
    bool interrupted;
    const wchar_t* message;
  } cases[] = {
      {"queued", TaskState::Queued, kPartial, false, TaskState::Stopped, true, L""},
      {"connecting", TaskState::Connecting, kPartial, false, TaskState::Stopped, true, L""},
      {"downloading", TaskState::Downloading, kPartial, false, TaskState::Stopped, true, L""},
      {"stopped by the page", TaskState::Stopped, kPartial, false, TaskState::Stopped, false, L""},
      {"failed", TaskState::Failed, kNone, false, TaskState::Failed, false, L"earlier"},
      {"renaming, the partial file there", TaskState::Completing, kPartial, true, TaskState::Completing, false, L""},
      {"renaming, the rename done", TaskState::Completing, kTarget, true, TaskState::Completing, false, L""},
      {"renaming, both files gone", TaskState::Completing, kNone, false, TaskState::Failed, false,
       L"the downloaded file went missing while it was being completed"},
  };
  std::vector<Task> saved;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Task task;
    task.id = i + 1;
    task.key = task.url = L"http://127.0.0.1/f" + std::to_wstring(i) + L".bin";
    task.folder = folder_;
    task.fileName = task.requestedName = L"f" + std::to_wstring(i) + L".bin";
    task.state = cases[i].saved;
    task.message = cases[i].message;
    task.size = 5;
    task.segments = {{0, 5, cases[i].saved == TaskState::Completing ? 5 : 2}};
    if (cases[i].files == kPartial) Write(PartialPathOf(task), cases[i].saved == TaskState::Completing ? "whole" : "pa");
    if (cases[i].files == kTarget) Write(TargetPathOf(task), "whole");
    saved.push_back(task);
  }
  {
    Journal journal(folder_);
    journal.Load();
    journal.SaveWork(saved, saved.size() + 1);
  }

  std::set<uint64_t> finished;
  {
    EngineSession session;
    ASSERT_FALSE(session.Open(folder_, [&](Task* task) { finished.insert(task->id); }).Failed());
    for (size_t i = 0; i < saved.size(); ++i) {
      const auto& c = cases[i];
      EXPECT_EQ(c.finished, finished.count(saved[i].id) == 1) << c.what;
      if (c.finished) {
        // The finish step got the file where it belongs.
        EXPECT_TRUE(Exists(TargetPathOf(saved[i]))) << c.what;
        EXPECT_FALSE(Exists(PartialPathOf(saved[i]))) << c.what;
        continue;
      }
      const Task* task = session.Work().FindId(saved[i].id);
      ASSERT_NE(nullptr, task) << c.what;
      EXPECT_EQ(c.state, task->state) << c.what;
      EXPECT_EQ(c.interrupted, task->interrupted) << c.what;
      EXPECT_EQ(c.message, task->message) << c.what << ": " << Narrow(task->message);
      // Progress stays with every task that is not finished; its bytes are still there.
      EXPECT_EQ(saved[i].segments[0].done, task->segments.empty() ? -1 : task->segments[0].done) << c.what;
    }
    EXPECT_GT(session.TakeId(), saved.size());
    session.BeginClose();
    session.Close();
    EXPECT_FALSE(session.IsOpen());
  }

  // The next session finds what the last one left (the finish step here
  // moved nothing to the finished list, so those stay as recovered).
  EngineSession again;
  ASSERT_FALSE(again.Open(folder_, [](Task*) {}).Failed());
  for (size_t i = 0; i < saved.size(); ++i) {
    if (cases[i].finished) continue;
    const Task* task = again.Work().FindId(saved[i].id);
    ASSERT_NE(nullptr, task) << cases[i].what;
    EXPECT_EQ(cases[i].state, task->state) << cases[i].what;
    EXPECT_EQ(cases[i].interrupted, task->interrupted) << cases[i].what;
    EXPECT_EQ(cases[i].message, task->message) << cases[i].what;
  }
  again.Close();
}

TEST_F(SessionTest, OneDataFolderHasOneSessionAtATime) {
  EngineSession first, second;
  auto finish = [](Task*) {};
  EXPECT_EQ(E_FAIL, second.Open(L"", finish).result) << "a folder that could not be made";
  EXPECT_FALSE(second.IsOpen());

  ASSERT_FALSE(first.Open(folder_, finish).Failed());
  Status refused = second.Open(folder_, finish);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), refused.result);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(first.IsOpen());

  first.BeginClose();
  EXPECT_TRUE(first.Closing());
  first.Close();
  EXPECT_FALSE(first.Closing());
  ASSERT_FALSE(second.Open(folder_, finish).Failed()) << "the lock goes with the close";
  second.Close();
}

}  // namespace
