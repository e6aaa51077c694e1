// The int32 status every engine-dependent script method puts in its result.
#pragma once

#include <cstdint>

#include "npapi/npruntime.h"

enum ScriptStatus : int32_t {
  StatusOk = 0,                 // arguments accepted, instance and engine present, the work ran to its end
  StatusEngineUnavailable = 1,  // the instance has no engine object for this method; nothing was called
  StatusBadArguments = 2,       // argument count, type tag or value refused; nothing else was examined
  StatusNoInstance = 3,         // the script object has no owning instance; nothing was called
};

inline void SetStatusResult(NPVariant* result, ScriptStatus code) { INT32_TO_NPVARIANT(code, *result); }
