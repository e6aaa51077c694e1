// Filling a task record from the engine's own knowledge of a task.
#pragma once

#include <optional>
#include <string>

#include "engine/engine_interfaces.h"
#include "transfer/task_param.h"

// Asks the engine about one task; nothing when it leaves the state at 0xFF
// (no such task). Every text the engine hands back is freed here.
std::optional<_TaskParam> QueryTaskRecord(IDownload* download, const std::wstring& key);
