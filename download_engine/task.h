// A download task as the engine keeps it, and a finished-list entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

// The state byte of events and QueryTaskInfo. Values 0 to 5 are working
// tasks; 6 and 8 appear only in the event that takes a task off the work list.
enum class TaskState : uint8_t {
  Queued = 0,       // waiting for a free download slot
  Connecting = 1,   // request sent, no answer yet
  Downloading = 2,  // receiving
  Stopped = 3,      // stopped by the page, or interrupted by a shutdown
  Failed = 4,       // ended with the reason in the message
  Completing = 5,   // all bytes in; the partial file is being renamed
  Completed = 6,    // the file is whole; the task moves to the finished list
  Cancelled = 7,    // stopped with the partial file removed; may be started again
  Removed = 8,      // deleted by the page
};

const wchar_t* StateName(TaskState state);

// A byte range of the resource and how much of it is in the partial file.
struct Segment {
  int64_t begin = 0;
  int64_t end = -1;  // exclusive; -1 while the size is unknown
  int64_t done = 0;  // bytes from begin that are written and flushed
};

class Transfer;

struct Task {
  uint64_t id = 0;  // unique among all tasks the engine has ever had
  std::wstring key;
  std::wstring url;
  std::wstring folder;
  std::wstring requestedName;  // as the page gave it; empty: the server's or the URL's name
  std::wstring fileName;       // the name in use once chosen
  std::wstring referrer;
  int32_t connections = 1;
  TaskState state = TaskState::Queued;
  std::wstring message;
  int32_t errorCode = 0;
  int64_t size = -1;
  std::vector<Segment> segments;
  std::wstring validator;  // ETag or Last-Modified of the resource, for resuming
  std::wstring contentType;
  std::wstring finalUrl;
  int64_t created = 0;  // FILETIME ticks
  bool interrupted = false;  // was running when the engine last closed

  // Run-time only.
  std::shared_ptr<Transfer> transfer;  // while connections may still run
  bool requeueAfterTransfer = false;
  bool cancelPending = false;  // the partial file goes once the transfer has ended
  int64_t startBytes = 0;      // bytes done when the current run began
  int retriesLeft = 0;
  uint64_t retryAtMs = 0;
  uint32_t speed = 0;
  int64_t lastBytes = 0;
  uint64_t lastSampleMs = 0;
  uint64_t lastProgressEventMs = 0;
  uint64_t startedMs = 0;

  int64_t Done() const {
    int64_t total = 0;
    for (const auto& segment : segments) total += segment.done;
    return total;
  }
};

struct FinishedEntry {
  uint64_t id = 0;
  std::wstring key;
  std::wstring url;
  std::wstring folder;
  std::wstring fileName;
  std::wstring path;
  int64_t size = 0;
  std::wstring finalUrl;
  std::wstring contentType;
  uint32_t averageSpeed = 0;
  int64_t created = 0;
  int64_t finished = 0;
};

}  // namespace engine
