// What an engine operation answers: an HRESULT with the text the COM layer
// turns into error information.
#pragma once

#include <windows.h>

#include <string>

namespace engine {

struct Status {
  HRESULT result = S_OK;
  std::wstring message;
  bool Failed() const { return FAILED(result); }
};

inline Status Ok() { return Status(); }
inline Status Fail(HRESULT result, const std::wstring& message) { return Status{result, message}; }
inline Status BadArgument(const std::wstring& message) { return Fail(E_INVALIDARG, message); }

}  // namespace engine
