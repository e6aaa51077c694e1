#include "script/conversions.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "plugin/host.h"
#include "script/com_error.h"

namespace {

[[noreturn]] void RaiseLastError() {
  DWORD error = GetLastError();
  RaiseComError(error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL);
}

}  // namespace

std::string NPStringToString(const NPString& text) {
  if (text.UTF8Characters == nullptr || text.UTF8Length == 0) return std::string();
  return std::string(text.UTF8Characters, text.UTF8Length);
}

std::unique_ptr<wchar_t[]> Utf8ToWide(const char* text) {
  if (text == nullptr) return nullptr;
  int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[units + 1]);
  if (!wide) RaiseComError(E_OUTOFMEMORY);
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.get(), units);
  wide[units] = L'\0';
  return wide;
}

UniqueBstr WideToBstr(const wchar_t* text) {
  if (text == nullptr) return UniqueBstr();
  BSTR copy = SysAllocString(text);
  if (copy == nullptr) RaiseComError(E_OUTOFMEMORY);
  return UniqueBstr(copy);
}

UniqueBstr AnsiToBstr(const char* text) {
  if (text == nullptr) return UniqueBstr();
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units == 0) RaiseLastError();
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[units]);
  if (!wide) RaiseComError(E_OUTOFMEMORY);
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), units) == 0) RaiseLastError();
  BSTR copy = SysAllocString(wide.get());
  if (copy == nullptr) RaiseComError(E_OUTOFMEMORY);
  return UniqueBstr(copy);
}

std::optional<std::string> BstrToAnsi(BSTR text) {
  if (text == nullptr) return std::nullopt;
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes == 0) RaiseLastError();
  std::unique_ptr<char[]> narrow(new (std::nothrow) char[bytes]);
  if (!narrow) RaiseComError(E_OUTOFMEMORY);
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.get(), bytes, nullptr, nullptr) == 0) RaiseLastError();
  return std::string(narrow.get());
}

int32_t NumberToInt(double number) {
  // A page can send any double; converting one outside the range is undefined behaviour.
  if (std::isnan(number)) return 0;
  if (number >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (number <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(number);
}

bool NumberToBool(double number) { return number != 0.0; }

bool StringToResult(const std::string& text, NPVariant* result) {
  auto* memory = static_cast<char*>(NPN_MemAlloc(static_cast<uint32_t>(text.size() + 1)));
  if (memory == nullptr) return false;
  memory[text.size()] = '\0';
  std::memcpy(memory, text.data(), text.size());
  // The visible length stops at the first NUL, as the host will read it.
  STRINGN_TO_NPVARIANT(memory, std::strlen(memory), *result);
  return true;
}
