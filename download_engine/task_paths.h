// Where a task's file goes, where its bytes wait until it is whole, and how
// far it is: the same answer for the events, the scheduler and the commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download_engine/task.h"

namespace engine {

// The finished file's path; empty while the task has no file name (or folder).
std::wstring TargetPathOf(const Task& task);
// The partial file's path: the finished file's with the partial suffix.
std::wstring PartialPathOf(const Task& task);
// The ranges as they stand: a running transfer's own count, else the task's.
std::vector<Segment> CurrentSegments(const Task& task, int64_t* received);

}  // namespace engine
