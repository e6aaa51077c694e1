// What a transfer is started with: the task's address, progress and file, and
// the settings that shape its connections (how many, their buffers, time-outs,
// proxy, agent), each held to its bounds whatever the settings file says.
#pragma once

#include <cstdint>

#include "download_engine/settings.h"
#include "download_engine/task.h"
#include "download_engine/transfer.h"

namespace engine {

constexpr int32_t kMaxConnections = 16;

TransferPlan PlanFor(const Task& task, const Settings& settings);

}  // namespace engine
