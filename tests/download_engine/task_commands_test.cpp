// The task commands on their own, over a session in a folder of the test's
// own and with tasks added stopped (no transfer runs): what a page gives is
// checked into the task (a failing check leaves it failed with the reason,
// and a name that is taken is counted up, never overwritten); a task created
// again takes what the page corrects; a partial file goes only when the page's
// command names it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "download_engine/engine_common.h"
#include "download_engine/engine_events.h"
#include "download_engine/event_hub.h"
#include "download_engine/scheduler.h"
#include "download_engine/session.h"
#include "tests/download_engine/scratch_folder.h"
#include "download_engine/task_commands.h"
#include "download_engine/task_paths.h"
#include "download_engine/url_check.h"

namespace {

using namespace engine;

class TaskCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(session_.Open(data_, [this](Task* task) { scheduler_.Finish(task); }).Failed());
  }
  void TearDown() override {
    session_.Close();
  }
  static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  static void Write(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
  }
  // Created stopped: nothing is started.
  Task* Create(const std::wstring& url, const std::wstring& folder, const std::wstring& name,
               const std::wstring& referrer = L"") {
    BYTE state = 0xFF;
    EXPECT_FALSE(tasks_.Create(url, folder, name, referrer, 0, kAddStopped, &state).Failed());
    Task* task = session_.Work().Find(NormalizeUrl(url));
    EXPECT_NE(nullptr, task);
    if (task) {
      EXPECT_EQ(static_cast<BYTE>(task->state), state);
    }
    return task;
  }

  ScratchFolder scratch_{L"commands"};
  const std::wstring folder_ = scratch_.Path();
  const std::wstring data_ = scratch_.Sub(L"data");
  EngineSession session_;
  EventHub hub_;
  EventPoster events_{hub_, session_};
  Scheduler scheduler_{session_, events_, nullptr};
  TaskCommands tasks_{session_, scheduler_, events_};
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST_F(TaskCommandsTest, APagesInputIsCheckedIntoTheTaskAndATakenNameIsCountedUp) {
  Write(folder_ + L"\\there.bin");
  const struct {
    const char* what;
    const wchar_t* url;
    const wchar_t* folder;  // null: the test's folder
    const wchar_t* name;
    const wchar_t* referrer;
    TaskState state;
    const wchar_t* fileName;  // the name in use
    const wchar_t* messageStart;
  } cases[] = {
      {"a plain task", L"http://127.0.0.1/a.bin", nullptr, L"a.bin", L"", TaskState::Stopped, L"a.bin", L""},
      {"a name a file has", L"http://127.0.0.1/b.bin", nullptr, L"there.bin", L"", TaskState::Stopped,
       L"there (1).bin", L""},
      {"a name another task has", L"http://127.0.0.1/c.bin", nullptr, L"a.bin", L"", TaskState::Stopped,
       L"a (1).bin", L""},
      {"a relative folder", L"http://127.0.0.1/d.bin", L"downloads", L"d.bin", L"", TaskState::Failed, L"", nullptr},
      {"a name that leaves the folder", L"http://127.0.0.1/e.bin", nullptr, L"..\\e.bin", L"", TaskState::Failed, L"",
       nullptr},
      {"a referrer that is no web address", L"http://127.0.0.1/f.bin", nullptr, L"f.bin", L"javascript:alert(1)",
       TaskState::Failed, L"", L"the referrer is not a usable http or https URL"},
      {"an address that is not http", L"file:///C:/secret.txt", nullptr, L"g.bin", L"", TaskState::Failed, L"",
       nullptr},
  };
  for (const auto& c : cases) {
    Task* task = Create(c.url, c.folder ? c.folder : folder_, c.name, c.referrer);
    ASSERT_NE(nullptr, task) << c.what;
    EXPECT_EQ(c.state, task->state) << c.what;
    EXPECT_EQ(c.fileName, task->fileName) << c.what;
    if (c.state == TaskState::Failed) {
      EXPECT_FALSE(task->message.empty()) << c.what;
    }
    if (c.messageStart) {
      EXPECT_EQ(0u, task->message.find(c.messageStart)) << c.what << ": " << Narrow(task->message);
    }
  }
  EXPECT_FALSE(Exists(folder_ + L"\\..\\e.bin"));

  // Created again: what the page corrects replaces what made the task fail,
  // and it stays one task.
  const size_t count = session_.Work().Size();
  Task* corrected = Create(L"http://127.0.0.1/d.bin", folder_, L"");
  ASSERT_NE(nullptr, corrected);
  EXPECT_EQ(TaskState::Stopped, corrected->state);
  EXPECT_EQ(L"d.bin", corrected->fileName) << "the name it gave before stays";
  EXPECT_TRUE(corrected->message.empty());
  EXPECT_EQ(count, session_.Work().Size());
}

TEST_F(TaskCommandsTest, APartialFileGoesOnlyWhenThePagesCommandNamesIt) {
  const struct {
    const char* what;
    int command;  // 0 cancel, 1 delete keeping the file, 2 delete with the file
    bool partialStays;
    bool taskStays;
  } cases[] = {
      {"cancelled", 0, false, true},
      {"deleted, the file kept", 1, true, false},
      {"deleted with its file", 2, false, false},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    const std::wstring url = L"http://127.0.0.1/p" + std::to_wstring(i) + L".bin";
    Task* task = Create(url, folder_, L"p" + std::to_wstring(i) + L".bin");
    ASSERT_NE(nullptr, task) << c.what;
    task->size = 10;
    task->segments = {{0, 10, 4}};
    const std::wstring partial = PartialPathOf(*task);
    Write(partial);
    Write(folder_ + L"\\p" + std::to_wstring(i) + L" (1).bin");  // a neighbour the commands leave alone
    if (c.command == 0) {
      EXPECT_FALSE(tasks_.Cancel(url).Failed()) << c.what;
    }
    if (c.command > 0) {
      EXPECT_FALSE(tasks_.Delete(url, c.command == 2).Failed()) << c.what;
    }
    EXPECT_EQ(c.partialStays, Exists(partial)) << c.what;
    EXPECT_TRUE(Exists(folder_ + L"\\p" + std::to_wstring(i) + L" (1).bin")) << c.what;
    const Task* left = session_.Work().Find(NormalizeUrl(url));
    EXPECT_EQ(c.taskStays, left != nullptr) << c.what;
    if (left) {
      EXPECT_EQ(TaskState::Cancelled, left->state) << c.what;
      EXPECT_EQ(0, left->Done()) << c.what << ": the progress went with the file";
    }
  }
}

}  // namespace
