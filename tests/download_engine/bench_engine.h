// The engine as the benchmarks start it: a home folder of the run's own, its
// three objects created and the schedule started as the plug-in starts it.
#pragma once

#include <string>

#include "engine/engine_interfaces.h"

struct BenchEngine {
  ISchedule* schedule = nullptr;
  IConfig* config = nullptr;
  IDownload* download = nullptr;
};

// Sets HALVO_ENGINE_HOME to a new folder named by the prefix and the process
// id (before the engine is registered and loaded, so no user's data is touched);
// the folder.
std::wstring UsePrivateEngineHome(const wchar_t* prefix);

// COM initialised on this thread, the objects created and the schedule's
// start-up done; false, with the reason on stderr, when an object is missing.
bool StartBenchEngine(BenchEngine* engine);
