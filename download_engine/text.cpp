#include "download_engine/text.h"

#include <climits>
#include <cwctype>
#include <new>

namespace engine {

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  // The conversion counts in int: a longer text is more than the engine ever handles.
  if (text.size() > static_cast<size_t>(INT_MAX) / 2) throw std::bad_alloc();
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  if (text.size() > static_cast<size_t>(INT_MAX) / 4) throw std::bad_alloc();
  int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
  return narrow;
}

bool IsUtf8(const std::string& bytes) {
  if (bytes.empty()) return true;
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return false;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

BSTR ToBstr(const std::wstring& text) {
  if (text.size() > UINT_MAX / sizeof(wchar_t) - 1) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size() || a.size() > static_cast<size_t>(INT_MAX)) return false;
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring UpperCase(std::wstring text) {
  if (!text.empty() && text.size() <= MAXDWORD) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::wstring ToText(int64_t value) { return std::to_wstring(value); }

bool ParseInt64(const std::wstring& text, int64_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == L'-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return false;
  uint64_t result = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    uint64_t digit = static_cast<uint64_t>(text[i] - L'0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (!negative && result > static_cast<uint64_t>(INT64_MAX)) return false;
  if (negative && result > static_cast<uint64_t>(INT64_MAX) + 1) return false;
  *value = negative ? static_cast<int64_t>(0 - result) : static_cast<int64_t>(result);
  return true;
}

int64_t NowFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

std::wstring FormatUtcTime(int64_t fileTime) {
  if (fileTime <= 0) return std::wstring();
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(fileTime);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(fileTime) >> 32);
  SYSTEMTIME parts;
  if (!FileTimeToSystemTime(&time, &parts)) return std::wstring();
  wchar_t text[32];
  swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", parts.wYear, parts.wMonth, parts.wDay, parts.wHour,
           parts.wMinute, parts.wSecond);
  return text;
}

bool ParseUtcTime(const std::wstring& text, int64_t* fileTime) {
  unsigned year, month, day, hour, minute, second;
  wchar_t zone = 0;
  if (text.size() != 20 || swscanf(text.c_str(), L"%4u-%2u-%2uT%2u:%2u:%2u%lc", &year, &month, &day, &hour, &minute,
                                   &second, &zone) != 7 || zone != L'Z')
    return false;
  SYSTEMTIME parts = {};
  parts.wYear = static_cast<WORD>(year);
  parts.wMonth = static_cast<WORD>(month);
  parts.wDay = static_cast<WORD>(day);
  parts.wHour = static_cast<WORD>(hour);
  parts.wMinute = static_cast<WORD>(minute);
  parts.wSecond = static_cast<WORD>(second);
  FILETIME time;
  if (!SystemTimeToFileTime(&parts, &time)) return false;
  *fileTime = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return true;
}

uint64_t NowMs() { return GetTickCount64(); }

std::wstring ReplaceAll(std::wstring text, const std::wstring& what, const std::wstring& with) {
  if (what.empty()) return text;
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

bool HasControlCharacter(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace engine
