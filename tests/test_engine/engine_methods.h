// The names and virtual-table slots of every method the engine's objects
// answer, one table for the log, the rules and their validation.
#pragma once

#include <cstdint>

namespace engine_methods {

// The slot of method on object, or -2 when the object has no such method.
int32_t Slot(const wchar_t* object, const wchar_t* method);

// ProgID and interface of an object's class (the connection point: the Download's ProgID, no interface).
const wchar_t* ProgId(const wchar_t* object);

}  // namespace engine_methods
