#include "tests/test_engine/holds.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

struct Gate {
  bool held = false;
  std::vector<DWORD> waiting;  // threads waiting at the place now
};

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  Gate gates[2];
};

// Heap-held and never destroyed, like every process-wide state of the engine.
State& TheState() {
  static State* state = new State;
  return *state;
}

Gate& GateOf(State& state, holds::Place place) { return state.gates[static_cast<int>(place)]; }

}  // namespace

namespace holds {

void Set(Place place, bool hold) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  GateOf(state, place).held = hold;
  state.changed.notify_all();
}

void Pass(Place place) {
  State& state = TheState();
  std::unique_lock<std::mutex> lock(state.mutex);
  Gate& gate = GateOf(state, place);
  if (!gate.held) return;
  DWORD thread = GetCurrentThreadId();
  gate.waiting.push_back(thread);
  state.changed.notify_all();
  state.changed.wait(lock, [&] { return !gate.held; });
  gate.waiting.erase(std::find(gate.waiting.begin(), gate.waiting.end(), thread));
  state.changed.notify_all();
}

bool WaitForWaiting(Place place, uint32_t count, DWORD timeoutMilliseconds) {
  State& state = TheState();
  std::unique_lock<std::mutex> lock(state.mutex);
  Gate& gate = GateOf(state, place);
  return state.changed.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                [&] { return gate.waiting.size() >= count; });
}

bool ArchiveTaskWaitingElsewhere() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  const std::vector<DWORD>& waiting = GateOf(state, Place::ArchiveTask).waiting;
  return !waiting.empty() && std::find(waiting.begin(), waiting.end(), GetCurrentThreadId()) == waiting.end();
}

void Reset() {
  Set(Place::ArchiveTask, false);
  Set(Place::Invoke, false);
}

}  // namespace holds
