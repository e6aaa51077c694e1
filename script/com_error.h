// Failing engine results become a raised _com_error, with the engine's own
// error description when the engine offers one for that interface.
#pragma once

#include <windows.h>
#include <unknwn.h>

[[noreturn]] void RaiseComError(HRESULT result, IUnknown* object, REFIID iid);

// Out of memory or a failed code-page conversion: an error without description.
[[noreturn]] void RaiseComError(HRESULT result);
