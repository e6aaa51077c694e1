// Text helpers shared by the engine: UTF-8 and UTF-16, BSTRs, numbers and times.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

namespace engine {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// True when the bytes are well-formed UTF-8.
bool IsUtf8(const std::string& bytes);

// A BSTR as a wide string; COM's null BSTR is the empty string.
std::wstring FromBstr(BSTR text);
// A fresh BSTR copy (null only when memory runs out).
BSTR ToBstr(const std::wstring& text);

// Ordinal comparison ignoring case, as Windows compares file names.
bool SameFileName(const std::wstring& a, const std::wstring& b);
std::wstring UpperCase(std::wstring text);

std::wstring ToText(int64_t value);
// Whole decimal number of the entire text (optional leading minus), or false.
bool ParseInt64(const std::wstring& text, int64_t* value);

// 100 ns ticks since 1601 (FILETIME), and their ISO 8601 UTC form ("2024-05-01T12:00:00Z").
int64_t NowFileTime();
std::wstring FormatUtcTime(int64_t fileTime);
bool ParseUtcTime(const std::wstring& text, int64_t* fileTime);

// Monotonic milliseconds.
uint64_t NowMs();

// Replaces every occurrence of what by with.
std::wstring ReplaceAll(std::wstring text, const std::wstring& what, const std::wstring& with);

// True when the text holds a character below U+0020 or U+007F.
bool HasControlCharacter(const std::wstring& text);

}  // namespace engine
