// The events the engine builds, from plain values: what each position holds
// for a working task, a finished entry and a deleted task, and the percentage.
#include <gtest/gtest.h>
#include <windows.h>

#include "download_engine/task_events.h"
#include "download_engine/text.h"

namespace {

using namespace engine;

Task Working(TaskState state, int64_t size) {
  Task task;
  task.key = L"http://a/f";
  task.url = L"http://a/f?x";
  task.folder = L"C:\\d";
  task.requestedName = L"asked|for.bin";
  task.referrer = L"http://page/";
  task.message = L"a|b";
  task.state = state;
  task.size = size;
  task.speed = 900;
  task.errorCode = 7;
  task.segments.push_back(Segment{0, size, 25});
  return task;
}

TEST(TaskEvents, AWorkingTasksValuesStandAtTheirPositions) {
  Task task = Working(TaskState::Downloading, 100);
  TaskStanding standing;
  standing.queuePosition = 3;
  standing.partialPath = L"C:\\d\\f.bin.part";
  standing.path = L"C:\\d\\f.bin";
  standing.received = 25;
  standing.transferring = true;
  standing.connections = 300;  // more than a byte holds
  TaskEvent event = TaskEventOf(task_event::kKindTask, task, standing);
  EXPECT_EQ(task_event::kKindTask, event.kind);
  EXPECT_EQ(L"http://a/f", event.key);
  EXPECT_EQ(L"http://a/f?x", event.url);
  EXPECT_EQ(std::wstring::npos, event.fileName.find(L'|'));  // the requested name, made fit for a field
  EXPECT_EQ(std::wstring::npos, event.message.find(L'|'));
  EXPECT_EQ(L"C:\\d\\f.bin.part", event.partialPath);
  EXPECT_EQ(L"C:\\d\\f.bin", event.path);
  EXPECT_EQ(3u, event.queuePosition);
  EXPECT_EQ(L"downloading", event.stateName);
  EXPECT_EQ(255, event.connections);
  EXPECT_EQ(900u, event.speed);
  EXPECT_EQ(7, event.errorCode);
  EXPECT_EQ(100, event.size);
  EXPECT_EQ(25, event.done);
  EXPECT_EQ(25.0, event.percent);
  EXPECT_EQ(0, event.complete);
  EXPECT_EQ(L"", event.finished);
}

TEST(TaskEvents, WithoutATransferThereIsNoSpeedAndNoConnection) {
  TaskStanding standing;
  standing.connections = 4;
  TaskEvent event = TaskEventOf(task_event::kKindRecord, Working(TaskState::Stopped, 100), standing);
  EXPECT_EQ(0u, event.speed);
  EXPECT_EQ(0, event.connections);
}

TEST(TaskEvents, ThePercentageFollowsTheSizeAndAnEmptyFileIsWholeWhileRenamed) {
  const struct {
    TaskState state;
    int64_t size, received;
    double percent;
  } cases[] = {
      {TaskState::Downloading, 200, 50, 25.0},
      {TaskState::Downloading, 3, 1, 100.0 / 3.0},
      {TaskState::Downloading, -1, 500, 0},  // size unknown
      {TaskState::Downloading, 0, 0, 0},
      {TaskState::Completing, 0, 0, 100},
      {TaskState::Completing, -1, 0, 0},
  };
  for (const auto& c : cases) {
    TaskStanding standing;
    standing.received = c.received;
    EXPECT_DOUBLE_EQ(c.percent, TaskEventOf(task_event::kKindTask, Working(c.state, c.size), standing).percent)
        << c.size << " " << c.received;
  }
}

TEST(TaskEvents, AFinishedEntrysEventIsWholeAndSaysWhetherItCompleted) {
  FinishedEntry entry;
  entry.key = L"http://a/f";
  entry.url = L"http://a/f";
  entry.fileName = L"f.bin";
  entry.path = L"C:\\d\\f.bin";
  entry.size = 4096;
  entry.averageSpeed = 512;
  entry.finished = 133590240000000000LL;
  for (TaskState state : {TaskState::Completed, TaskState::Removed}) {
    TaskEvent event = FinishedEventOf(entry, state);
    EXPECT_EQ(task_event::kKindFinished, event.kind);
    EXPECT_EQ(state == TaskState::Completed ? 1 : 0, event.complete);
    EXPECT_EQ(static_cast<uint8_t>(state), event.state);
    EXPECT_EQ(100.0, event.percent);
    EXPECT_EQ(4096, event.size);
    EXPECT_EQ(4096, event.done);
    EXPECT_EQ(512u, event.speed);
    EXPECT_EQ(FormatUtcTime(entry.finished), event.finished);
    EXPECT_EQ(L"C:\\d\\f.bin", event.path);
  }
}

TEST(TaskEvents, ADeletedTaskLeavesWithWhatItHad) {
  Task task = Working(TaskState::Downloading, 100);
  TaskEvent event = RemovedEventOf(task, L"C:\\d\\f.bin");
  EXPECT_EQ(task_event::kKindFinished, event.kind);
  EXPECT_EQ(static_cast<uint8_t>(TaskState::Removed), event.state);
  EXPECT_EQ(L"removed", event.stateName);
  EXPECT_EQ(0, event.complete);  // never archived
  EXPECT_EQ(100, event.size);
  EXPECT_EQ(25, event.done);
  EXPECT_EQ(L"C:\\d\\f.bin", event.path);
  EXPECT_EQ(L"", event.message);
}

// Without a transfer: the paths a page is shown, by what the task has.
TEST(TaskEvents, ThePartialFileIsNamedOnlyOnceItMayHoldBytes) {
  const struct {
    const char* what;
    std::wstring folder, fileName;
    TaskState state;
    int64_t done;
    std::wstring partial, path;
  } cases[] = {
      {"no bytes yet", L"C:\\d", L"f.bin", TaskState::Stopped, 0, L"", L"C:\\d\\f.bin"},
      {"bytes in the partial file", L"C:\\d", L"f.bin", TaskState::Stopped, 25, L"C:\\d\\f.bin.part", L"C:\\d\\f.bin"},
      {"a folder ending in a backslash", L"C:\\", L"f.bin", TaskState::Failed, 5, L"C:\\f.bin.part", L"C:\\f.bin"},
      {"completed: the file is whole", L"C:\\d", L"f.bin", TaskState::Completed, 25, L"", L"C:\\d\\f.bin"},
      {"no name chosen yet", L"C:\\d", L"", TaskState::Queued, 25, L"", L""},
  };
  for (const auto& c : cases) {
    Task task;
    task.folder = c.folder;
    task.fileName = c.fileName;
    task.state = c.state;
    task.segments.push_back(Segment{0, 100, c.done});
    TaskStanding standing = StandingOf(task, 7);
    EXPECT_EQ(c.partial, standing.partialPath) << c.what;
    EXPECT_EQ(c.path, standing.path) << c.what;
    EXPECT_EQ(c.done, standing.received) << c.what;
    EXPECT_EQ(7u, standing.queuePosition) << c.what;
    EXPECT_FALSE(standing.transferring) << c.what;
  }
}

}  // namespace
