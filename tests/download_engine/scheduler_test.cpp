// The scheduler's file rules on their own, over a session in a folder of the
// test's own: a name is free only when no other task writes it and nothing
// (a file, another task's partial file) is there, and finishing a download
// never overwrites a file that appeared meanwhile, moves the task to the
// finished list, and keeps the task with its reason when the rename fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "download_engine/engine_events.h"
#include "download_engine/event_hub.h"
#include "download_engine/scheduler.h"
#include "download_engine/session.h"
#include "tests/download_engine/scratch_folder.h"
#include "download_engine/task_paths.h"

namespace {

using namespace engine;

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(session_.Open(data_, [this](Task* task) { scheduler_.Finish(task); }).Failed());
  }
  void TearDown() override {
    session_.Close();
  }
  static void Write(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  static std::string Read(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    char buffer[64];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
  }
  Task* AddTask(const std::wstring& name, TaskState state) {
    auto task = std::make_unique<Task>();
    task->id = session_.TakeId();
    task->key = task->url = L"http://127.0.0.1/" + std::to_wstring(task->id) + L"/" + name;
    task->folder = folder_;
    task->fileName = task->requestedName = name;
    task->state = state;
    task->size = 5;
    task->segments = {{0, 5, 5}};
    Task* added = session_.Work().Append(std::move(task));
    session_.Work().Retarget(added);
    return added;
  }

  ScratchFolder scratch_{L"scheduler"};
  const std::wstring folder_ = scratch_.Path();
  const std::wstring data_ = scratch_.Sub(L"data");
  EngineSession session_;
  EventHub hub_;
  EventPoster events_{hub_, session_};
  Scheduler scheduler_{session_, events_, nullptr};
};

TEST_F(SchedulerTest, ANameIsFreeOnlyWhenNoOtherTaskWritesItAndNothingIsThere) {
  Task* writer = AddTask(L"listed.bin", TaskState::Stopped);
  Task* owner = AddTask(L"own.bin", TaskState::Stopped);
  Write(folder_ + L"\\there.bin", "user");
  Write(folder_ + L"\\own.bin.part", "pa");
  Write(folder_ + L"\\other.bin.part", "pa");
  const struct {
    const char* what;
    const Task* self;
    const wchar_t* name;
    bool taken;
  } cases[] = {
      {"another task writes it", nullptr, L"listed.bin", true},
      {"another task writes it, in other letters", owner, L"LISTED.BIN", true},
      {"the task's own name", writer, L"listed.bin", false},
      {"a file is there", nullptr, L"there.bin", true},
      {"a file is there, for any task", writer, L"there.bin", true},
      {"another task's leftover partial file", nullptr, L"other.bin", true},
      {"another task's leftover partial file, asked for a task", writer, L"other.bin", true},
      {"the task's own partial file", owner, L"own.bin", false},
      {"nothing there", nullptr, L"free.bin", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.taken, scheduler_.NameTaken(c.self, folder_, c.name)) << c.what;
}

TEST_F(SchedulerTest, FinishingNeverOverwritesAFileAndKeepsTheTaskWhenTheRenameFails) {
  enum Setup { kPartialOnly, kFileAppeared, kRenamedBefore, kPartialHeldOpen };
  const struct {
    const char* what;
    Setup setup;
    bool finished;
    const wchar_t* finalName;  // finished: the name the file got
  } cases[] = {
      {"the partial file alone", kPartialOnly, true, L"f0.bin"},
      {"a file of that name appeared meanwhile", kFileAppeared, true, L"f1 (1).bin"},
      {"renamed before a crash", kRenamedBefore, true, L"f2.bin"},
      {"the partial file held open by another program", kPartialHeldOpen, false, nullptr},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    Task* task = AddTask(L"f" + std::to_wstring(i) + L".bin", TaskState::Downloading);
    const uint64_t id = task->id;
    const std::wstring partial = PartialPathOf(*task), target = TargetPathOf(*task);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.setup != kRenamedBefore) Write(partial, "whole");
    if (c.setup == kRenamedBefore) Write(target, "whole");
    if (c.setup == kFileAppeared) Write(target, "user");
    if (c.setup == kPartialHeldOpen)
      held = CreateFileW(partial.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);

    scheduler_.Finish(task);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

    const Task* left = session_.Work().FindId(id);
    EXPECT_EQ(c.finished, left == nullptr) << c.what;
    if (c.setup == kFileAppeared) {
      EXPECT_EQ("user", Read(target)) << c.what << ": the file that was there";
    }
    if (c.finished) {
      ASSERT_FALSE(session_.Finished().Entries().empty()) << c.what;
      const FinishedEntry& entry = session_.Finished().Entries().back();
      EXPECT_EQ(id, entry.id) << c.what;
      EXPECT_EQ(folder_ + L"\\" + c.finalName, entry.path) << c.what;
      EXPECT_EQ("whole", Read(entry.path)) << c.what;
      EXPECT_EQ(5, entry.size) << c.what;
    } else {
      ASSERT_NE(nullptr, left) << c.what;
      EXPECT_EQ(TaskState::Failed, left->state) << c.what;
      EXPECT_EQ(0u, left->message.find(L"the finished file could not be renamed")) << c.what;
      EXPECT_EQ("whole", Read(partial)) << c.what << ": the bytes stay";
    }
  }
}

}  // namespace
