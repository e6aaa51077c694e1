// TaskEvent sent to the sinks advised on a Download object, on the calling
// thread or on worker threads.
#pragma once

#include <windows.h>

#include "tests/test_engine/test_engine_control.h"

namespace event_firing {

HRESULT Fire(const TestEngineEvent& event, TestEngineFireResult* result);

uint32_t FireOnWorker(const TestEngineEvent& event);
void HoldWorkers(bool hold);
bool WaitForWorkers(DWORD timeoutMilliseconds);
bool WorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result);
// Releases held workers, waits for all, forgets them.
void Reset();

}  // namespace event_firing
