// Every engine call goes through EngineCall: the method is called through the
// interface's virtual table and a failing HRESULT (below zero) becomes a raised
// COM error carrying that interface and its identifier.
#pragma once

#include <utility>

#include "engine/engine_interfaces.h"
#include "script/com_error.h"

template <typename Interface, typename... Params, typename... Args>
void EngineCall(Interface* object, HRESULT (STDMETHODCALLTYPE Interface::*method)(Params...), Args&&... args) {
  HRESULT result = (object->*method)(std::forward<Args>(args)...);
  if (result < 0) RaiseComError(result, object, __uuidof(Interface));
}
