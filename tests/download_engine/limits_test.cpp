// The limits the settings set: the download speed limit, shared by every
// running task, and the number of tasks that may run at once.
#include <algorithm>
#include <cstdio>
#include <map>

#include "tests/download_engine/engine_fixture.h"

namespace {

using Limits = EngineTest;

bool IsRunning(uint8_t state) { return state == 1 || state == 2 || state == 5; }

// The most tasks that were running at once, by the states the events reported.
int MostRunningAtOnce(const std::vector<EngineEvent>& seen) {
  std::map<std::wstring, bool> running;
  int most = 0;
  for (const auto& event : seen) {
    running[event.key] = event.kind != 5 && IsRunning(event.state);
    most = std::max<int>(most, static_cast<int>(std::count_if(running.begin(), running.end(),
                                                               [](const auto& entry) { return entry.second; })));
  }
  return most;
}

// Bytes per second from the first answer of the first task to the last task's finish.
double MeasuredRate(const std::vector<EngineEvent>& seen, int64_t bytes) {
  uint64_t first = 0, last = 0;
  for (const auto& event : seen) {
    if (event.kind == 3 && event.state == 2 && first == 0) first = event.atMs;
    if (event.kind == 5) last = event.atMs;
  }
  return last > first ? bytes * 1000.0 / static_cast<double>(last - first) : 0;
}

TEST_F(Limits, OneTaskStaysWithinTheSpeedLimit) {
  ASSERT_EQ(S_OK, config->SetLimitSpeed(256, 0));
  long limit = 0;
  ASSERT_EQ(S_OK, config->GetLimitSpeed(0, &limit));
  ASSERT_EQ(256, limit);
  const int64_t size = 768 * 1024;
  std::wstring url = Server().DataUrl(size, 50, L"limit");
  Create(url, L"limited.bin");
  ExpectDownloaded(url, L"limited.bin", size, 50);
  double rate = MeasuredRate(events->Events(), size);
  RecordProperty("measured_KiB_per_s", std::to_string(rate / 1024));
  std::printf("limit 256 KiB/s, measured %.1f KiB/s\n", rate / 1024);
  // Never above the limit (15% for the measurement's edges). How close a busy
  // machine comes to it is a figure, not a verdict: the time-out above bounds it.
  EXPECT_GT(rate, 0);
  EXPECT_LE(rate, 256 * 1024 * 1.15) << "measured " << rate / 1024 << " KiB/s";
}

TEST_F(Limits, TheLimitIsSharedByAllRunningTasksAndTheirConnections) {
  ASSERT_EQ(S_OK, config->SetLimitSpeed(384, 0));
  const int64_t size = 576 * 1024;
  std::wstring a = Server().DataUrl(size, 51, L"shared");
  std::wstring b = Server().DataUrl(size, 52, L"shared");
  Create(a, L"a.bin", 2);
  Create(b, L"b.bin", 2);
  ExpectDownloaded(a, L"a.bin", size, 51);
  ExpectDownloaded(b, L"b.bin", size, 52);
  double rate = MeasuredRate(events->Events(), 2 * size);
  RecordProperty("measured_KiB_per_s", std::to_string(rate / 1024));
  std::printf("limit 384 KiB/s over two tasks, measured %.1f KiB/s\n", rate / 1024);
  // Both tasks together, not each, stay within the limit.
  EXPECT_GT(rate, 0);
  EXPECT_LE(rate, 384 * 1024 * 1.15) << "measured " << rate / 1024 << " KiB/s";
}

TEST_F(Limits, NeverMoreTasksRunThanTheMaximumAndTheRestWaitInTheQueue) {
  ASSERT_EQ(S_OK, config->SetMaxDownloadCount(2));
  std::vector<std::wstring> urls;
  for (unsigned i = 0; i < 5; ++i) {
    urls.push_back(Server().DataUrl(300000, 60 + i, L"slots", L"rate=400000"));
    BYTE state = Create(urls.back(), L"slot" + std::to_wstring(i) + L".bin");
    EXPECT_EQ(i < 2 ? 1 : 0, state) << "task " << i << ": connecting while a slot is free, else queued";
  }
  long most = 0;
  events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        most = std::max(most, DownloadingCount());
        return std::count_if(seen.begin(), seen.end(), [](const EngineEvent& e) { return e.kind == 5; }) == 5;
      },
      20000);
  for (unsigned i = 0; i < 5; ++i) ExpectDownloaded(urls[i], L"slot" + std::to_wstring(i) + L".bin", 300000, 60 + i);
  EXPECT_EQ(2, MostRunningAtOnce(events->Events()));
  EXPECT_LE(most, 2);
  EXPECT_EQ("2", Server().Stats(L"slots")["max_active"]) << "connections the server saw at once";
}

TEST_F(Limits, LoweringTheMaximumSendsTheNewestRunningTasksBackToTheQueue) {
  // Each first run slows down before its end, so that all three still run when
  // the limit falls however busy the machine; the runs after that go at once.
  std::vector<std::wstring> urls;
  for (unsigned i = 0; i < 3; ++i) {
    urls.push_back(Server().DataUrl(500000, 70 + i, L"lower", L"slow_at=450000&paced=3"));
    Create(urls.back(), L"lower" + std::to_wstring(i) + L".bin");
  }
  ASSERT_TRUE(events->WaitFor([&](const std::vector<EngineEvent>&) { return DownloadingCount() == 3; }, 5000));
  ASSERT_EQ(S_OK, config->SetMaxDownloadCount(1));
  // Sent back: queued (0) after it was connecting or downloading. (A task is
  // also queued when it is added, and events may arrive late.)
  auto sentBack = [](const std::wstring& key) {
    return [key](const std::vector<EngineEvent>& seen) {
      bool ran = false;
      for (const auto& event : seen) {
        if (event.key != key) continue;
        if (event.state == 1 || event.state == 2) ran = true;
        else if (event.state == 0 && ran) return true;
      }
      return false;
    };
  };
  EXPECT_TRUE(events->WaitFor(sentBack(urls[2]), 5000)) << "the newest task is sent back to the queue";
  EXPECT_TRUE(events->WaitFor(sentBack(urls[1]), 5000)) << "the second newest task is sent back to the queue";
  // From the moment the limit fell, one task at a time, as the engine counts
  // them (events from before the fall may still be on their way): 0 when the
  // oldest has just finished and the others still wind down.
  long most = 0;
  EXPECT_TRUE(events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        most = std::max(most, DownloadingCount());
        return std::count_if(seen.begin(), seen.end(), [](const EngineEvent& e) { return e.kind == 5; }) == 3;
      },
      30000));
  EXPECT_LE(most, 1);
  // Read once every event is in: the oldest's own could still be on its way just after the others'.
  EXPECT_FALSE(sentBack(urls[0])(events->Events())) << "the oldest task keeps running";
  for (unsigned i = 0; i < 3; ++i)
    ExpectDownloaded(urls[i], L"lower" + std::to_wstring(i) + L".bin", 500000, 70 + i);
}

}  // namespace
