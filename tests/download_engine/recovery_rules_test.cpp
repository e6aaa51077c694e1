// A task as a damaged or edited journal may give it back, held to the rules a
// page's input meets: what is dropped, what fails the task, what starts over,
// and that progress survives a folder that is only missing for now.
#include <gtest/gtest.h>
#include <windows.h>

#include "download_engine/recovery_rules.h"

namespace {

using namespace engine;

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  std::wstring folder(temp, length);
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

TEST(RecoveryRules, AJournalTaskIsHeldToThePagesRulesAndKeepsWhatItMay) {
  const std::wstring here = TempFolder();
  const struct {
    const char* what;
    void (*edit)(Task*, const std::wstring& here);
    bool changed;
    TaskState state;
    const wchar_t* messageStart;  // empty: unchanged
    bool keepsProgress;
    bool keepsFileName;
  } cases[] = {
      {"a sound task", [](Task*, const std::wstring&) {}, false, TaskState::Stopped, L"", true, true},
      {"a referrer that is no http address", [](Task* t, const std::wstring&) { t->referrer = L"javascript:alert(1)"; },
       true, TaskState::Stopped, L"", true, true},
      {"a validator with a line break", [](Task* t, const std::wstring&) { t->validator = L"\"v\"\r\nX-Injected: 1"; },
       true, TaskState::Stopped, L"", true, true},
      {"a relative folder", [](Task* t, const std::wstring&) { t->folder = L"outside"; }, true, TaskState::Failed,
       L"the journal named an unusable folder", false, false},
      {"a file name with a folder in it", [](Task* t, const std::wstring&) { t->fileName = L"..\\up.bin"; }, true,
       TaskState::Failed, L"the journal named an unusable file", false, false},
      {"an address that is not http", [](Task* t, const std::wstring&) { t->url = L"file:///C:/secret"; }, true,
       TaskState::Failed, L"", false, true},
      {"progress beyond the range", [](Task* t, const std::wstring&) { t->segments = {{0, 100, 500}}; }, true,
       TaskState::Stopped, L"the journal's progress was inconsistent", false, true},
      {"a folder missing for now", [](Task* t, const std::wstring& h) { t->folder = h + L"\\halvo-not-there-now"; },
       true, TaskState::Failed, L"", true, true},
      {"a failed task in a missing folder stays as it was",
       [](Task* t, const std::wstring& h) {
         t->folder = h + L"\\halvo-not-there-now";
         t->state = TaskState::Failed;
         t->message = L"earlier";
       },
       false, TaskState::Failed, L"earlier", true, true},
  };
  for (const auto& c : cases) {
    Task task;
    task.id = 1;
    task.key = task.url = L"http://127.0.0.1/f.bin";
    task.folder = here;
    task.fileName = task.requestedName = L"f.bin";
    task.state = TaskState::Stopped;
    task.size = 100;
    task.segments = {{0, 100, 40}};
    task.validator = L"\"etag\"";
    c.edit(&task, here);
    EXPECT_EQ(c.changed, RecheckFromJournal(&task)) << c.what;
    EXPECT_EQ(c.state, task.state) << c.what;
    EXPECT_EQ(0u, task.message.find(c.messageStart)) << c.what << ": " << std::string(task.message.begin(), task.message.end());
    EXPECT_EQ(c.keepsProgress, !task.segments.empty()) << c.what;
    EXPECT_EQ(c.keepsFileName, !task.fileName.empty()) << c.what;
    EXPECT_EQ(std::wstring::npos, task.validator.find(L'\n')) << c.what;
    EXPECT_EQ(std::wstring::npos, task.referrer.find(L"javascript")) << c.what;
  }
}

}  // namespace
