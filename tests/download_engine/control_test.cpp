// What the page does to tasks: stop and resume from the partial file, cancel,
// delete with or without the file, queue order, import, and the queries.
#include <algorithm>

#include "tests/download_engine/task_fixture.h"

namespace {

class TaskControl : public TaskTest {
 protected:
  void Stop(const std::wstring& key) {
    Bstr k(key);
    ASSERT_EQ(S_OK, download->StopDownload(k));
  }
};

TEST_F(TaskControl, StopKeepsThePartialFileAndCreatingAgainResumesFromIt) {
  const uint64_t size = 1200000;
  std::wstring url = Server().DataUrl(size, 21, L"resume", L"slow_at=300000&paced=1");
  Create(url, L"resume.bin");
  WaitForBytes(url, 300000);
  Stop(url);
  EngineEvent stopped = Settled(url, 3);
  ASSERT_EQ(url, stopped.key) << "no stopped event with the transfer ended";
  ASSERT_GT(stopped.done, 0);
  ASSERT_LT(stopped.done, static_cast<int64_t>(size));
  std::string partial = ReadBytes(Downloads(L"resume.bin.part"));
  ASSERT_GE(partial.size(), static_cast<size_t>(stopped.done));
  EXPECT_EQ(LoopbackServer::Content(stopped.done, 21), partial.substr(0, static_cast<size_t>(stopped.done)));
  EXPECT_EQ(0, DownloadingCount());

  Create(url, L"ignored-on-resume.bin");
  ExpectDownloaded(url, L"resume.bin", size, 21);
  std::string ranges = Server().Stats(L"resume")["ranges"];
  EXPECT_NE(std::string::npos, ranges.find("," + std::to_string(stopped.done) + "-"))
      << "the second request continues at byte " << stopped.done << ": " << ranges;
}

TEST_F(TaskControl, AServerThatIgnoresRangesMakesTheResumeStartFromZero) {
  const uint64_t size = 900000;
  std::wstring url = Server().DataUrl(size, 22, L"norange", L"ranges=0&slow_at=200000&paced=1");
  Create(url, L"norange.bin");
  WaitForBytes(url, 200000);
  Stop(url);
  ASSERT_EQ(url, Settled(url, 3).key);
  Create(url);
  ExpectDownloaded(url, L"norange.bin", size, 22);
}

TEST_F(TaskControl, CancelRemovesThePartialFileAndTheTaskStartsOverWhenCreatedAgain) {
  std::wstring url = Server().DataUrl(1000000, 23, L"cancel", L"slow_at=200000&paced=1");
  Create(url, L"cancel.bin");
  WaitForBytes(url, 200000);
  Bstr key(url);
  ASSERT_EQ(S_OK, download->CancelDownload(key));
  EngineEvent cancelled = Settled(url, 7);
  ASSERT_EQ(url, cancelled.key);
  EXPECT_EQ(0, cancelled.done);
  EXPECT_FALSE(Exists(Downloads(L"cancel.bin.part")));
  EXPECT_FALSE(Exists(Downloads(L"cancel.bin")));
  ASSERT_EQ(std::vector<std::wstring>{url}, WorkKeys()) << "a cancelled task stays listed";

  Create(url, L"cancel.bin");
  ExpectDownloaded(url, L"cancel.bin", 1000000, 23);
  EXPECT_EQ("none,none", Server().Stats(L"cancel")["ranges"]) << "both runs start at byte 0";
}

TEST_F(TaskControl, DeleteTakesTheTaskOffTheListAndItsFlagDecidesAboutTheFile) {
  std::wstring keep = Server().DataUrl(2000000, 24, L"delete", L"slow_at=100000");
  std::wstring drop = Server().DataUrl(2000001, 25, L"delete", L"slow_at=100000");
  Create(keep, L"keep.bin");
  Create(drop, L"drop.bin");
  WaitForBytes(keep, 100000);
  WaitForBytes(drop, 100000);
  Bstr keepKey(keep), dropKey(drop), none(L"");
  ASSERT_EQ(S_OK, download->DeleteDownload(keepKey, 0));
  ASSERT_EQ(S_OK, download->DeleteDownload2(keepKey, none, 0));
  ASSERT_EQ(S_OK, download->DeleteDownload(dropKey, 1));
  ASSERT_EQ(S_OK, download->DeleteDownload2(dropKey, none, 1));
  for (const auto& key : {keep, drop}) {
    EngineEvent removed = events->WaitForFinish(key, 5000);
    EXPECT_EQ(8, removed.state) << "removed";
    EXPECT_EQ(0, removed.complete);
  }
  EXPECT_TRUE(WorkKeys().empty());
  EXPECT_TRUE(FinishedTexts().empty()) << "a removed task is never archived";
  EXPECT_TRUE(events->WaitFor([&](const std::vector<EngineEvent>&) { return !Exists(Downloads(L"drop.bin.part")); },
                              5000))
      << "the partial file of a task deleted with its file stays";
  EXPECT_TRUE(Exists(Downloads(L"keep.bin.part")));
  // Deleting what is not there is no error: the page may be behind the engine.
  ASSERT_EQ(S_OK, download->DeleteDownload(dropKey, 1));
}

TEST_F(TaskControl, DeletingAFinishedTaskRemovesItsEntryAndWithTheFlagItsFile) {
  std::wstring first = Server().DataUrl(3000, 26, L"finished");
  std::wstring second = Server().DataUrl(3001, 27, L"finished");
  Create(first, L"first.bin");
  Create(second, L"second.bin");
  ExpectDownloaded(first, L"first.bin", 3000, 26);
  ExpectDownloaded(second, L"second.bin", 3001, 27);
  ASSERT_EQ(2u, FinishedTexts().size());
  Bstr firstKey(first), secondKey(second), firstPath(Downloads(L"first.bin")), otherPath(Downloads(L"elsewhere.bin")),
      secondPath(Downloads(L"second.bin"));
  ASSERT_EQ(S_OK, download->DeleteDownload(firstKey, 1));
  ASSERT_EQ(S_OK, download->DeleteDownload2(firstKey, firstPath, 1));
  ASSERT_EQ(S_OK, download->DeleteDownload2(secondKey, otherPath, 1)) << "another path names no entry";
  ASSERT_EQ(1u, FinishedTexts().size());
  ASSERT_EQ(S_OK, download->DeleteDownload2(secondKey, secondPath, 0));
  EXPECT_TRUE(FinishedTexts().empty());
  EXPECT_FALSE(Exists(Downloads(L"first.bin")));
  EXPECT_TRUE(Exists(Downloads(L"second.bin"))) << "without the flag the file stays";
}

TEST_F(TaskControl, MoveChangesTheQueueOrderAndSoWhichTaskStartsNext) {
  ASSERT_EQ(S_OK, config->SetMaxDownloadCount(1));
  // At 1 KiB/s the running task cannot end (and let the next one start) while
  // the queue is reordered; the limit goes once the order is set.
  ASSERT_EQ(S_OK, config->SetLimitSpeed(1, 0));
  std::wstring running = Server().DataUrl(400000, 28, L"order");
  std::wstring a = Server().DataUrl(1000, 29, L"order");
  std::wstring b = Server().DataUrl(1001, 30, L"order");
  std::wstring c = Server().DataUrl(1002, 31, L"order");
  Create(running, L"running.bin");
  EXPECT_EQ(0, Create(a, L"a.bin")) << "no free slot: queued";
  Create(b, L"b.bin");
  Create(c, L"c.bin");
  ASSERT_EQ((std::vector<std::wstring>{running, a, b, c}), WorkKeys());
  Bstr key(c);
  ASSERT_EQ(S_OK, download->Move(key, 1));
  ASSERT_EQ((std::vector<std::wstring>{running, c, a, b}), WorkKeys());
  // Events arrive on the engine's thread: wait for the update, with a bound.
  EXPECT_TRUE(events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        for (const auto& event : seen)
          if (event.key == c && event.kind == 0 && event.queuePosition == 1) return true;
        return false;
      },
      5000))
      << "a silent record update tells the new position";
  ASSERT_EQ(S_OK, download->Move(key, 255)) << "past the end: last";
  ASSERT_EQ((std::vector<std::wstring>{running, a, b, c}), WorkKeys());
  ASSERT_EQ(S_OK, download->Move(key, 1));
  ASSERT_EQ(S_OK, config->SetLimitSpeed(0, 0));

  for (const auto& k : {running, c, a, b}) ASSERT_EQ(k, events->WaitForFinish(k, 15000).key);
  std::vector<std::wstring> order;
  for (const auto& event : events->Events())
    if (event.kind == 3 && event.state == 1) order.push_back(event.key);
  EXPECT_EQ((std::vector<std::wstring>{running, c, a, b}), order) << "the order the tasks started in";
}

// A name is taken while a task holds it, whatever the case of its letters,
// and free again once the task is gone; moves and a restart change nothing
// about which names are taken or which task a key finds.
TEST_F(TaskControl, FileNamesStayTakenAndComeFreeAsTasksAreMovedDeletedAndTheEngineRestarts) {
  std::wstring a = Server().DataUrl(1000, 34, L"names"), b = Server().DataUrl(1001, 35, L"names"),
               c = Server().DataUrl(1002, 36, L"names"), d = Server().DataUrl(1003, 37, L"names");
  auto upper = [](std::wstring text) {
    for (auto& unit : text) unit = static_cast<wchar_t>(towupper(unit));
    return text;
  };
  auto named = [&](const std::wstring& key) {
    EXPECT_EQ(3, events->WaitForState(key, 3, 5000).state);
    return ChosenName(key);
  };
  // Stopped as they are added: only names and order count here.
  Create(a, L"same.bin", 1, 1);
  Create(b, L"SAME.BIN", 1, 1);
  EXPECT_EQ(L"same.bin", named(a));
  std::wstring nameB = named(b);
  EXPECT_NE(L"SAME.BIN", upper(nameB)) << "taken by a, in another case";
  Bstr keyA(a), keyB(b);
  ASSERT_EQ(S_OK, download->Move(keyB, 0));
  ASSERT_EQ((std::vector<std::wstring>{b, a}), WorkKeys());
  ASSERT_EQ(S_OK, download->DeleteDownload(keyA, 0));
  EXPECT_EQ(0xFF, Query(a)) << "gone";
  Create(c, L"Same.Bin", 1, 1);
  EXPECT_EQ(L"Same.Bin", named(c)) << "free again once its task was deleted";
  ASSERT_EQ((std::vector<std::wstring>{b, c}), WorkKeys());

  StopEngine();
  StartEngine();
  ASSERT_EQ((std::vector<std::wstring>{b, c}), WorkKeys());
  Create(d, L"same.BIN", 1, 1);
  std::wstring nameD = named(d);
  EXPECT_NE(L"SAME.BIN", upper(nameD)) << "still taken by c after the restart";
  EXPECT_NE(upper(nameB), upper(nameD));
  Bstr keyD(d);
  ASSERT_EQ(S_OK, download->Move(keyD, 1));
  ASSERT_EQ((std::vector<std::wstring>{b, d, c}), WorkKeys());
  for (const auto& key : {b, c, d}) EXPECT_EQ(3, Query(key)) << "every key finds its task";
}

TEST_F(TaskControl, ImportAddsStoppedTasksWhileAutoStartIsOffAndRejectsAMalformedText) {
  std::wstring a = Server().DataUrl(2000, 32, L"import-a");
  std::wstring b = Server().DataUrl(2001, 33, L"import-b");
  Bstr text(a + L"|" + Downloads() + L"|a.bin\r\n\r\n" + b + L"|" + Downloads() + L"|b.bin|http://pages.example/|2\n");
  ASSERT_EQ(S_OK, download->ImportTask(text));
  ASSERT_EQ((std::vector<std::wstring>{a, b}), WorkKeys());
  EXPECT_EQ(3, events->WaitForState(a, 3, 15000).state) << "no stopped event for an imported task";
  EXPECT_EQ(3, events->WaitForState(b, 3, 15000).state) << "no stopped event for an imported task";
  EXPECT_EQ(0, DownloadingCount());

  Bstr broken(L"just-one-field\n");
  EXPECT_EQ(E_INVALIDARG, download->ImportTask(broken));
  EXPECT_EQ(2u, WorkKeys().size()) << "a rejected import adds nothing";

  Create(a);
  Create(b);
  ExpectDownloaded(a, L"a.bin", 2000, 32);
  ExpectDownloaded(b, L"b.bin", 2001, 33);
  EXPECT_EQ("", Server().Stats(L"import-a")["referer"]);
  EXPECT_EQ("http://pages.example/", Server().Stats(L"import-b")["referer"]);
}

TEST_F(TaskControl, QueriesDescribeARunningTaskAndUnknownKeysAnswerEmpty) {
  // At 64 KiB/s the task runs for most of a minute: it is still running
  // whenever the queries below come, however slow the machine.
  const long limitKiB = 64;
  ASSERT_EQ(S_OK, config->SetLimitSpeed(limitKiB, 0));
  const uint64_t size = 3 * 1024 * 1024;
  std::wstring url = Server().DataUrl(size, 34, L"query");
  Create(url, L"query.bin");
  WaitForBytes(url, 100000);
  Bstr key(url);
  long resourceSize = 0;
  ASSERT_EQ(S_OK, download->GetResourceSize(key, &resourceSize));
  EXPECT_EQ(static_cast<long>(size), resourceSize);
  BSTR blocks = nullptr;
  long count = 0;
  ASSERT_EQ(S_OK, download->GetBlockStatusList(key, &blocks, &count));
  std::wstring map = TakeBstr(blocks);
  EXPECT_EQ(3, count) << "one block per MiB";
  EXPECT_EQ(3u, map.size());
  EXPECT_EQ(std::wstring::npos, map.find_first_not_of(L"012")) << std::string(map.begin(), map.end());
  // Bytes per second, smoothed: it settles near the limit.
  long speed = 0, running = 0;
  EXPECT_TRUE(events->WaitFor(
      [&](const std::vector<EngineEvent>&) {
        download->GetTotalDownloadSpeed(&speed);
        return speed > limitKiB * 1024 / 2 && speed < limitKiB * 1024 * 2;
      },
      10000))
      << "the total speed stayed at " << speed << " bytes per second, limit " << limitKiB * 1024;
  ASSERT_EQ(S_OK, download->GetDownloadingCount(&running));
  EXPECT_EQ(1, running);

  BSTR text1 = nullptr, text2 = nullptr, text3 = nullptr, text4 = nullptr;
  BYTE state = 0xFF;
  LONGLONG total = 0, done = 0;
  ULONG taskSpeed = 0;
  ASSERT_EQ(S_OK, download->QueryTaskInfo(key, &text1, &text2, &text3, &state, &total, &done, &taskSpeed, &text4));
  EXPECT_EQ(url, TakeBstr(text1));
  EXPECT_EQ(Downloads(), TakeBstr(text2));
  EXPECT_EQ(L"query.bin", TakeBstr(text3));
  EXPECT_EQ(L"", TakeBstr(text4));
  EXPECT_EQ(2, state);
  EXPECT_EQ(static_cast<LONGLONG>(size), total);
  EXPECT_GT(done, 0);

  Bstr unknown(L"http://127.0.0.1:1/never-created");
  state = 0xFF;
  text1 = text2 = text3 = text4 = nullptr;
  ASSERT_EQ(S_OK, download->QueryTaskInfo(unknown, &text1, &text2, &text3, &state, &total, &done, &taskSpeed, &text4));
  EXPECT_EQ(0xFF, state) << "an unknown task leaves the state as preset";
  EXPECT_EQ(nullptr, text1);
  ASSERT_EQ(S_OK, download->GetResourceSize(unknown, &resourceSize));
  EXPECT_EQ(-1, resourceSize);
  blocks = nullptr;
  ASSERT_EQ(S_OK, download->GetBlockStatusList(unknown, &blocks, &count));
  EXPECT_EQ(L"", TakeBstr(blocks));
  EXPECT_EQ(0, count);
  EXPECT_EQ(S_OK, download->StopDownload(unknown));
  EXPECT_EQ(S_OK, download->CancelDownload(unknown));
  EXPECT_EQ(S_OK, download->Move(unknown, 0));

  // Deleted with its file while running, then the engine shuts down at once:
  // the delete still happens once the transfer has let go of the file.
  ASSERT_EQ(S_OK, download->DeleteDownload(key, 1));
  StopEngine();
  EXPECT_FALSE(Exists(Downloads(L"query.bin.part")));
}

}  // namespace
