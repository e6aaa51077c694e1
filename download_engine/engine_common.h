// What the engine's parts share: their limits and timings, the shapes of
// their answers, and the lock-and-open step every COM-facing method begins with.
#pragma once

#include <windows.h>

#include <climits>
#include <cstdint>
#include <string>

#include "download_engine/engine.h"
#include "download_engine/task.h"
#include "download_engine/transfer_plans.h"

namespace engine {

constexpr uint64_t kProgressEventMs = 500;
constexpr DWORD kCloseGraceMs = 3000;

// Flags of CreateDownload's last number.
constexpr long kAddStopped = 1;
constexpr long kAddFirst = 2;


inline bool Running(TaskState state) {
  return state == TaskState::Connecting || state == TaskState::Downloading || state == TaskState::Completing;
}

inline bool Restartable(TaskState state) {
  return state == TaskState::Stopped || state == TaskState::Failed || state == TaskState::Cancelled;
}

inline long ClampToLong(int64_t value) { return value > LONG_MAX ? LONG_MAX : static_cast<long>(value); }

// -1 when there is no such file.
inline int64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

#define ENGINE_OPEN_OR_RETURN()            \
  std::lock_guard<std::mutex> hold(mutex_); \
  {                                         \
    Status opened = OpenLocked();           \
    if (opened.Failed()) return opened;     \
  }

}  // namespace engine
