// The engine's recovery paths, each through its COM objects: a resume after
// the file changed on the server, a partial file that is missing or shorter
// than the journal says, the retries after a reset connection, a damaged
// finished journal, the two journals after a crash between their saves, and
// the leftover of an interrupted save. Each either resumes correctly or
// starts over with a reason, and no finished entry is lost.
#include <algorithm>
#include <map>

#include "tests/download_engine/task_fixture.h"

namespace {

using Recovery = TaskTest;

TEST_F(Recovery, AFileThatChangedOnTheServerIsDownloadedAgainWholeNeverMixed) {
  const uint64_t size = 1200000;
  struct Case {
    const wchar_t* tag;
    unsigned seed;
    bool restartBetween;     // the change happens between two runs of the engine
    const wchar_t* options;  // if_range=0: the server sends a part of the new file all the same
    const char* lastRange;   // what the server's last answer covered
    const char* lastIfRange;
  } cases[] = {
      // If-Range "v1" against "v2": the server answers with the whole new file.
      {L"changed", 130, true, L"", ",0-1199999", "\"v1\""},
      // The part of the new file is refused for its validator; a fresh request follows.
      {L"mixed", 132, false, L"&if_range=0", ",none", ""},
  };
  for (const auto& c : cases) {
    std::wstring url =
        Server().DataUrl(size, c.seed, c.tag, std::wstring(L"etag=%22v1%22&slow_at=200000&paced=1") + c.options);
    std::wstring name = std::wstring(c.tag) + L".bin";
    Create(url, name);
    WaitForBytes(url, 200000);
    StopAndSettle(url);
    if (c.restartBetween) StopEngine();
    ASSERT_TRUE(Server().ChangeFile(c.tag, c.seed + 1, L"%22v2%22"));
    if (c.restartBetween) StartEngine();
    Create(url);
    ExpectDownloaded(url, name, size, c.seed + 1);
    std::map<std::string, std::string> stats = Server().Stats(c.tag);
    std::string tail = c.lastRange;
    EXPECT_EQ(tail, stats["ranges"].substr(stats["ranges"].size() - std::min(tail.size(), stats["ranges"].size())))
        << stats["ranges"];
    EXPECT_EQ(c.lastIfRange, stats["if_range"]);
  }
}

TEST_F(Recovery, AMissingPartialFileStartsOverAndAShorterOneResumesFromItsBytes) {
  const uint64_t size = 1000000;
  std::wstring gone = Server().DataUrl(size, 134, L"gone", L"slow_at=200000&paced=1");
  std::wstring shorter = Server().DataUrl(size, 135, L"shorter", L"slow_at=200000&paced=1");
  Create(gone, L"gone.bin");
  Create(shorter, L"shorter.bin");
  WaitForFileBytes(Downloads(L"gone.bin.part"), 200000);
  WaitForFileBytes(Downloads(L"shorter.bin.part"), 200000);
  // Stopped first, so that no transfer has the files open any more.
  StopAndSettle(gone);
  StopAndSettle(shorter);
  StopEngine();
  ASSERT_TRUE(DeleteFileW(Downloads(L"gone.bin.part").c_str())) << "error " << GetLastError();
  std::string partial = ReadBytes(Downloads(L"shorter.bin.part"));
  ASSERT_GT(partial.size(), 100000u);
  WriteBytes(Downloads(L"shorter.bin.part"), partial.substr(0, 100000));
  StartEngine();
  Create(gone);
  Create(shorter);
  EngineEvent restarted = events->WaitForState(gone, 1, 5000);
  EXPECT_EQ(L"the partial file is gone; the download starts over", restarted.message);
  EngineEvent resumed = events->WaitForState(shorter, 1, 5000);
  EXPECT_EQ(L"the partial file is shorter than its progress; the download resumes from the bytes it has",
            resumed.message);
  ExpectDownloaded(gone, L"gone.bin", size, 134);
  ExpectDownloaded(shorter, L"shorter.bin", size, 135);
  std::string goneRanges = Server().Stats(L"gone")["ranges"];
  EXPECT_EQ("none,none", goneRanges);
  std::string shorterRanges = Server().Stats(L"shorter")["ranges"];
  EXPECT_EQ("none,100000-999999", shorterRanges) << "from the first byte the file lacks";
}

class Retries : public TaskTest {
 protected:
  std::string Tuning() const override {
    return "receive_timeout_ms=2000\nconnect_timeout_ms=2000\nretries=2\nretry_delay_ms=200\n";
  }
};

TEST_F(Retries, AResetConnectionIsTriedAgainAndResumesWhereItBroke) {
  const uint64_t size = 800000;
  // Reset once the engine has bytes: a reset discards what the client has not
  // read yet, and a busy machine may not have read any when a fixed point comes.
  std::wstring url = Server().DataUrl(size, 136, L"retried", L"slow_at=200000&paced=1");
  Create(url, L"retried.bin");
  WaitForBytes(url, 200000);
  ASSERT_TRUE(Server().ResetTransfer(L"retried"));
  ExpectDownloaded(url, L"retried.bin", size, 136);
  bool retried = false;
  for (const auto& event : events->EventsFor(url))
    retried = retried || (event.state == 0 && event.message.find(L"; trying again") != std::wstring::npos);
  EXPECT_TRUE(retried) << "a queued event says why it tries again";
  std::string ranges = Server().Stats(L"retried")["ranges"];
  EXPECT_EQ(0u, ranges.find("none,")) << ranges;
  EXPECT_EQ(std::string::npos, ranges.find(",none")) << "resumed, not started over: " << ranges;
}

TEST_F(Recovery, ADamagedFinishedJournalKeepsEveryEntryThatPassesItsOwnCheck) {
  std::vector<std::wstring> urls;
  for (unsigned i = 0; i < 3; ++i) {
    urls.push_back(Server().DataUrl(1000 + i, 137 + i, L"damaged-finished"));
    Create(urls.back(), L"kept" + std::to_wstring(i) + L".bin");
    ExpectDownloaded(urls.back(), L"kept" + std::to_wstring(i) + L".bin", 1000 + i, 137 + i);
  }
  std::wstring waiting = Server().DataUrl(1003, 140, L"damaged-finished");
  Create(waiting, L"waiting.bin", 1, 1);
  StopEngine();
  std::string journal = ReadBytes(Home() + L"\\finished.journal");
  size_t at = journal.find("kept1.bin");
  ASSERT_NE(std::string::npos, at);
  journal[at + 2] ^= 0x04;  // one flipped bit in the second entry
  WriteBytes(Home() + L"\\finished.journal", journal);
  StartEngine();
  std::vector<std::wstring> texts = FinishedTexts();
  ASSERT_EQ(2u, texts.size()) << "only the damaged entry is gone";
  EXPECT_EQ(urls[0], Fields(texts[0])[0]);
  EXPECT_EQ(urls[2], Fields(texts[1])[0]);
  EXPECT_TRUE(Exists(Home() + L"\\finished.journal.damaged")) << "kept for a look";
  EXPECT_TRUE(Exists(Downloads(L"kept1.bin"))) << "no file is deleted for it";
  EXPECT_EQ(std::vector<std::wstring>{waiting}, WorkKeys()) << "the work list has its own file";
  // The next save writes a sound file.
  Create(waiting);
  ExpectDownloaded(waiting, L"waiting.bin", 1003, 140);
  StopEngine();
  StartEngine();
  EXPECT_EQ(3u, FinishedTexts().size());
}

TEST_F(Recovery, ACrashBetweenTheTwoJournalSavesFindsTheTaskFinishedOnce) {
  std::wstring url = Server().DataUrl(20000, 141, L"between");
  Create(url, L"between.bin", 1, 1);
  // The work journal (its file and the log after it) as it was before the
  // task finished: a crash after the finished list was saved and before the
  // work list was.
  std::string before = ReadBytes(Home() + L"\\work.journal");
  std::string logBefore = ReadBytes(Home() + L"\\work.log");
  ASSERT_FALSE(before.empty());
  Create(url);
  ExpectDownloaded(url, L"between.bin", 20000, 141);
  StopEngine();
  WriteBytes(Home() + L"\\work.journal", before);
  WriteBytes(Home() + L"\\work.log", logBefore);
  StartEngine();
  EXPECT_TRUE(WorkKeys().empty()) << "the task is finished, not waiting again";
  ASSERT_EQ(1u, FinishedTexts().size());
  EXPECT_EQ(url, Fields(FinishedTexts()[0])[0]);
  EXPECT_TRUE(ReadBytes(Downloads(L"between.bin")) == LoopbackServer::Content(20000, 141));
}

TEST_F(Recovery, TheLeftoverOfAnInterruptedSaveIsTakenWhenWholeAndOtherwiseDropped) {
  std::wstring url = Server().DataUrl(3000, 142, L"leftover");
  Create(url, L"leftover.bin");
  ExpectDownloaded(url, L"leftover.bin", 3000, 142);
  std::wstring stopped = Server().DataUrl(3001, 143, L"leftover");
  Create(stopped, L"stopped.bin", 1, 1);
  StopEngine();
  // A save torn before its rename: the journals themselves stand.
  std::string work = ReadBytes(Home() + L"\\work.journal");
  WriteBytes(Home() + L"\\work.journal.new", work.substr(0, work.size() / 2));
  WriteBytes(Home() + L"\\finished.journal.new", "garbage");
  StartEngine();
  EXPECT_EQ(std::vector<std::wstring>{stopped}, WorkKeys());
  EXPECT_EQ(1u, FinishedTexts().size());
  EXPECT_FALSE(Exists(Home() + L"\\work.journal.new"));
  EXPECT_FALSE(Exists(Home() + L"\\finished.journal.new"));
  EXPECT_FALSE(Exists(Home() + L"\\work.journal.damaged")) << "a leftover is no damage";
  StopEngine();
  // The very first save of the finished list interrupted at its rename.
  std::string finished = ReadBytes(Home() + L"\\finished.journal");
  ASSERT_TRUE(DeleteFileW((Home() + L"\\finished.journal").c_str()));
  WriteBytes(Home() + L"\\finished.journal.new", finished);
  StartEngine();
  ASSERT_EQ(1u, FinishedTexts().size()) << "the whole leftover is the list";
  EXPECT_EQ(url, Fields(FinishedTexts()[0])[0]);
}

}  // namespace
