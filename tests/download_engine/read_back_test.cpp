// The engine's own files read back as strictly as a page's input: a settings
// file with a value a setter would refuse is set aside and the defaults used;
// a journal task whose folder breaks the rules fails without touching that
// folder; progress that does not fit together starts over with its reason.
// The journals here are written with the engine's own encoder, as an edited
// or damaged file would look after its checksum was made to fit.
#include "download_engine/journal.h"
#include "tests/download_engine/task_fixture.h"

namespace {

std::string Text(const std::wstring& text) { return std::string(text.begin(), text.end()); }

using ReadBack = TaskTest;

TEST_F(ReadBack, ASettingsFileWithAValueASetterWouldRefuseIsSetAsideAndTheDefaultsUsed) {
  const char* damages[] = {
      "download_limit_kib=-1\n",
      "client_version=Agent\\r\\nX-Injected: 1\n",
      "cookie=a\t1\\r\\nX-Injected: 2\t127.0.0.1\t/\t0\n",
      "max_downloads=100000\n",
  };
  for (const char* damage : damages) {
    StopEngine();
    // Good values beside the bad one: the whole file is suspect, so they go too.
    std::string file = "udp_port=16881\ndisk_cache_kib=1024\n" + std::string(damage);
    WriteBytes(Home() + L"\\settings.txt", file);
    DeleteFileW((Home() + L"\\settings.txt.damaged").c_str());
    StartEngine();
    long udp = 0, cache = 0, limit = -1;
    EXPECT_EQ(S_OK, config->GetUDPPort(&udp));
    EXPECT_EQ(S_OK, config->GetDiskCache(&cache));
    EXPECT_EQ(S_OK, config->GetLimitSpeed(0, &limit));
    EXPECT_EQ(6881, udp) << damage;
    EXPECT_EQ(4096, cache) << damage;
    EXPECT_EQ(0, limit) << damage;
    EXPECT_EQ(file, ReadBytes(Home() + L"\\settings.txt.damaged")) << "kept for a look: " << damage;
  }
  std::wstring url = Server().DataUrl(2000, 150, L"after-settings");
  Create(url, L"after.bin");
  ExpectDownloaded(url, L"after.bin", 2000, 150);
  EXPECT_EQ("", Server().Stats(L"after-settings")["cookie"]);
  EXPECT_EQ("Chrome/21.0.1180.79 Safari/537.1 Corvane/1.0.2", Server().Stats(L"after-settings")["user_agent"]);
}

class CraftedJournal : public TaskTest {
 protected:
  engine::Task Stopped(uint64_t id, const std::wstring& url, const std::wstring& folder, const std::wstring& name) {
    engine::Task task;
    task.id = id;
    task.key = task.url = url;
    task.folder = folder;
    task.requestedName = task.fileName = name;
    task.connections = 1;
    task.state = engine::TaskState::Stopped;
    task.created = 133000000000000000LL;
    return task;
  }
  void Replace(const std::vector<engine::Task>& work) {
    StopEngine();
    std::string bytes = engine::EncodeWork(work, 100);
    WriteBytes(Home() + L"\\work.journal", bytes);
    StartEngine();
  }
};

TEST_F(CraftedJournal, AFolderOutsideTheRulesFailsTheTaskAndNothingThereIsTouched) {
  std::wstring outside = Home() + L"\\outside";
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
  WriteBytes(outside + L"\\victim.bin.part", "the user's own bytes");
  std::wstring dotted = Server().DataUrl(1000, 151, L"journal-folder");
  std::wstring relative = Server().DataUrl(1001, 152, L"journal-folder");
  std::wstring missing = Server().DataUrl(1002, 153, L"journal-folder");
  engine::Task viaDots = Stopped(1, dotted, Downloads() + L"\\..\\outside", L"victim.bin");
  viaDots.size = 1000;
  viaDots.segments = {{0, 1000, 20}};
  Replace({viaDots, Stopped(2, relative, L"outside", L"victim.bin"),
           Stopped(3, missing, Downloads() + L"\\not-there", L"m.bin")});
  std::wstring message;
  EXPECT_EQ(4, Query(dotted, nullptr, nullptr, &message));
  EXPECT_EQ(0u, message.find(L"the journal named an unusable folder: ")) << Text(message);
  EXPECT_EQ(4, Query(relative, nullptr, nullptr, &message));
  EXPECT_EQ(0u, message.find(L"the journal named an unusable folder: ")) << Text(message);
  EXPECT_EQ(4, Query(missing, nullptr, nullptr, &message));
  EXPECT_NE(std::wstring::npos, message.find(L"does not exist")) << Text(message);
  // Whatever the page does with these tasks, the file outside stays.
  for (const auto& key : {dotted, relative}) {
    Bstr k(key);
    EXPECT_EQ(S_OK, download->CancelDownload(k));
    EXPECT_EQ(S_OK, download->DeleteDownload(k, 1));
  }
  EXPECT_EQ("the user's own bytes", ReadBytes(outside + L"\\victim.bin.part"));
  EXPECT_EQ("0", Server().Stats(L"journal-folder")["requests"]);
}

TEST_F(CraftedJournal, ProgressThatDoesNotFitTogetherStartsOverWithItsReason) {
  std::wstring overlapping = Server().DataUrl(3000000, 154, L"journal-ranges");
  engine::Task task = Stopped(1, overlapping, Downloads(), L"ranges.bin");
  task.size = 3000000;
  task.segments = {{0, 2000000, 1500000}, {1000000, 3000000, 10}};
  WriteBytes(Downloads(L"ranges.bin.part"), std::string(1500000, 'x'));
  Replace({task});
  std::wstring message;
  LONGLONG done = -1;
  EXPECT_EQ(3, Query(overlapping, nullptr, &done, &message));
  EXPECT_EQ(0, done) << "no progress is trusted";
  EXPECT_EQ(0u, message.find(L"the journal's progress was inconsistent")) << Text(message);
  Create(overlapping);
  ExpectDownloaded(overlapping, L"ranges.bin", 3000000, 154);
  EXPECT_EQ("none", Server().Stats(L"journal-ranges")["ranges"]) << "from the first byte";
}

}  // namespace
