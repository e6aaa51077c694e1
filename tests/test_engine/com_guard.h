// No C++ exception leaves a COM method of the engine: a body that throws
// (out of memory while logging) answers the given failure instead.
#pragma once

#include <windows.h>

template <typename Result, typename Body>
Result ComGuard(Result onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return onFailure;
  }
}

template <typename Body>
HRESULT ComGuard(Body&& body) noexcept {
  return ComGuard<HRESULT>(E_OUTOFMEMORY, static_cast<Body&&>(body));
}
