// Argument rules of the script methods: an exact count and, per position, the
// type tag required. Only the tag is tested: a whole number passed as Int32 is
// not a number here, and an "any" position is read as a double from the value
// bytes whatever its tag.
#pragma once

#include <initializer_list>

#include "npapi/npruntime.h"
#include "script/bstr.h"

enum class Argument { String, Number, Object, Any };

bool ArgumentsMatch(const NPVariant* args, uint32_t argCount, std::initializer_list<Argument> rules);

// The value bytes read as a double (the only reading of numbers and truth values).
double ValueAsDouble(const NPVariant& value);

// A string argument to the engine by the UTF-8 route (stops at an inner NUL).
UniqueBstr Utf8Bstr(const NPVariant& value);

// A string argument to the engine by the ANSI route (stops at an inner NUL).
UniqueBstr AnsiBstr(const NPVariant& value);
