// Keeps C++ exceptions (a raised engine error, bad_alloc, anything) from
// crossing into the browser or the engine: every exported entry point, NPClass
// entry and COM method runs its body through Guarded.
#pragma once

template <typename Result, typename Body>
Result Guarded(Result onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return onFailure;
  }
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}
