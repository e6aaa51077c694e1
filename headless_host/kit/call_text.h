// Host function arguments as text, for hosts that record the calls a module makes.
#pragma once

#include <string>

#include "npapi/npruntime.h"

std::string PointerText(const void* pointer);
// The text, or "(null)".
std::string OptionalText(const char* text);
// "void", "null", "bool:true", "int32:7", "double:1.500000", "string:...", "object:0x...".
std::string VariantText(const NPVariant& value);
