// What deleting removes: a working task's delete never reaches the finished
// copies of the same address or their files; DeleteDownload2 with a path
// removes that one finished entry, and its file only while the file is still
// the one the engine wrote.
#include "tests/download_engine/task_fixture.h"

namespace {

using Deleting = TaskTest;

TEST_F(Deleting, DeletingAWorkingReDownloadKeepsTheFinishedCopyAndItsFile) {
  std::wstring url = Server().DataUrl(1000000, 160, L"again", L"rate=300000&paced=2");
  Create(url, L"again.bin");
  ExpectDownloaded(url, L"again.bin", 1000000, 160);
  ASSERT_EQ(1u, FinishedTexts().size());
  // The same address again, while the first copy is there: a second file.
  // The first copy's events already tell of those bytes: the wait is for the
  // second copy's own.
  const size_t earlier = events->EventsFor(url).size();
  Create(url, L"again.bin");
  EXPECT_TRUE(events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        size_t index = 0;
        for (const auto& event : seen)
          if (event.key == url && index++ >= earlier && event.done >= 100000) return true;
        return false;
      },
      10000))
      << "the second copy never got 100000 bytes";
  std::wstring partial = Downloads(ChosenName(url) + L".part");
  ASSERT_NE(Downloads(L"again.bin.part"), partial);
  // What the page's DeleteDownload(key, "", 1) asks of the engine.
  Bstr key(url), none(L"");
  ASSERT_EQ(S_OK, download->DeleteDownload(key, 1));
  ASSERT_EQ(S_OK, download->DeleteDownload2(key, none, 1));
  EngineEvent removed = WaitForNthFinish(url, 2, 5000);
  EXPECT_EQ(8, removed.state) << "the working task's removal";
  std::vector<std::wstring> texts = FinishedTexts();
  ASSERT_EQ(1u, texts.size()) << "the earlier finished copy is still listed";
  EXPECT_EQ(Downloads(L"again.bin"), Fields(texts[0])[9]);
  EXPECT_TRUE(ReadBytes(Downloads(L"again.bin")) == LoopbackServer::Content(1000000, 160)) << "and its file is there";
  EXPECT_TRUE(WorkKeys().empty());
  EXPECT_TRUE(events->WaitFor([&](const std::vector<EngineEvent>&) { return !Exists(partial); }, 5000))
      << "the working task's own partial file goes";
  size_t removals = 0;
  for (const auto& event : events->EventsFor(url)) removals += event.kind == 5 && event.state == 8 ? 1 : 0;
  EXPECT_EQ(1u, removals) << "one removal: the working task's";
}

TEST_F(Deleting, APathNamesOneFinishedEntryAndOnlyTheFileTheEngineWroteIsDeleted) {
  std::wstring url = Server().DataUrl(3000, 161, L"twice");
  Create(url, L"twice.bin");
  ExpectDownloaded(url, L"twice.bin", 3000, 161);
  Create(url, L"twice.bin");
  EngineEvent second = WaitForNthFinish(url, 2);
  ASSERT_EQ(6, second.state);
  ASSERT_EQ(Downloads(L"twice (1).bin"), second.path);
  ASSERT_EQ(2u, FinishedTexts().size());

  // Written with forward slashes and another case: Windows names the same file.
  std::wstring given = Downloads(L"TWICE (1).BIN");
  for (auto& c : given)
    if (c == L'\\') c = L'/';
  Bstr key(url), secondPath(given);
  ASSERT_EQ(S_OK, download->DeleteDownload2(key, secondPath, 1));
  std::vector<std::wstring> texts = FinishedTexts();
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(Downloads(L"twice.bin"), Fields(texts[0])[9]);
  EXPECT_FALSE(Exists(Downloads(L"twice (1).bin")));
  EXPECT_TRUE(Exists(Downloads(L"twice.bin")));

  // The user changed the first file since: its entry goes, the file stays.
  WriteBytes(Downloads(L"twice.bin"), "the user's edit");
  Bstr firstPath(Downloads(L"twice.bin"));
  ASSERT_EQ(S_OK, download->DeleteDownload2(key, firstPath, 1));
  EXPECT_TRUE(FinishedTexts().empty());
  EXPECT_EQ("the user's edit", ReadBytes(Downloads(L"twice.bin")));
}

TEST_F(Deleting, EntriesOfOnePathGoTogetherAndTheFileIsJudgedByTheNewest) {
  std::wstring url = Server().DataUrl(3000, 162, L"repeat");
  Create(url, L"repeat.bin");
  ExpectDownloaded(url, L"repeat.bin", 3000, 162);
  // The user deleted the file; the same address downloaded again takes the name again.
  ASSERT_TRUE(DeleteFileW(Downloads(L"repeat.bin").c_str()));
  Create(url, L"repeat.bin");
  ASSERT_EQ(6, WaitForNthFinish(url, 2).state);
  ASSERT_EQ(2u, FinishedTexts().size());
  Bstr key(url), path(Downloads(L"repeat.bin"));
  ASSERT_EQ(S_OK, download->DeleteDownload2(key, path, 1));
  EXPECT_TRUE(FinishedTexts().empty()) << "both entries named that file";
  EXPECT_FALSE(Exists(Downloads(L"repeat.bin")));
}

}  // namespace
