// Conversions between script values (NPVariant, UTF-8 NPString) and engine
// values (BSTR text, 32-bit numbers, flags). Failures inside the text
// conversions raise a _com_error (out of memory, or a failed code-page step).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "npapi/npruntime.h"
#include "script/bstr.h"

// Exactly UTF8Length bytes, unchanged (inner NUL bytes included).
std::string NPStringToString(const NPString& text);

// UTF-8 (read up to the first NUL) to a NUL-terminated wide buffer; null when it cannot be measured.
std::unique_ptr<wchar_t[]> Utf8ToWide(const char* text);

// A BSTR copy up to the first NUL; null input gives a null BSTR.
UniqueBstr WideToBstr(const wchar_t* text);

// Narrow text (read up to the first NUL) decoded with the system ANSI code page.
UniqueBstr AnsiToBstr(const char* text);

// Wide text (up to the first NUL) encoded with the system ANSI code page; a null BSTR gives no text.
std::optional<std::string> BstrToAnsi(BSTR text);

// The fraction dropped toward zero; beyond the 32-bit range the nearest bound; NaN gives 0.
int32_t NumberToInt(double number);

// False only for a value equal to 0.0 (so -0.0 too); NaN is true.
bool NumberToBool(double number);

// Copies text into host memory as a string result; false (result untouched) without host memory.
bool StringToResult(const std::string& text, NPVariant* result);
