// Places where the engine waits on purpose until the test lets it go, so a
// test can keep an event inside the plug-in's sink while the plug-in tears
// the element down.
#pragma once

#include <windows.h>

#include <cstdint>

namespace holds {

enum class Place {
  ArchiveTask,  // inside Download.ArchiveTask, which the sink calls while handling an event
  Invoke,       // on a worker, after it took the sinks and before it invokes them
};

void Set(Place place, bool hold);
// Called by the engine at the place: returns at once unless held, else once released.
void Pass(Place place);
bool WaitForWaiting(Place place, uint32_t count, DWORD timeoutMilliseconds);
// A call arriving on another thread than the ones waiting in ArchiveTask.
bool ArchiveTaskWaitingElsewhere();
// Lets everything go.
void Reset();

}  // namespace holds
