#include "transfer/message_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>

namespace {

// Written out digit by digit: the same text whatever C runtime or locale is present.
std::wstring Unsigned(unsigned long long value) {
  wchar_t digits[24];
  wchar_t* at = digits + 24;
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::wstring(at, digits + 24);
}

std::wstring Signed(long long value) {
  if (value >= 0) return Unsigned(static_cast<unsigned long long>(value));
  return L"-" + Unsigned(0ULL - static_cast<unsigned long long>(value));
}

// Pages parse these texts and expect the three-digit exponent whatever C
// runtime formats the digits, so the exponent is rewritten here.
std::wstring WithThreeDigitExponent(const std::string& printed) {
  std::size_t e = printed.find('e');
  if (e == std::string::npos) return std::wstring(printed.begin(), printed.end());
  std::string mantissa = printed.substr(0, e);
  char sign = printed[e + 1];
  int exponent = std::atoi(printed.c_str() + e + 2);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", exponent);
  std::string rebuilt = mantissa + "e" + sign + digits;
  return std::wstring(rebuilt.begin(), rebuilt.end());
}

}  // namespace

std::wstring FormatGeneralNumber(double value) {
  if (std::isnan(value)) return L"nan";
  if (std::isinf(value)) return value < 0 ? L"-inf" : L"inf";
  char printed[64];
  // %g never depends on a locale here: the module never calls setlocale, so "C" holds.
  std::snprintf(printed, sizeof printed, "%.6g", value);
  return WithThreeDigitExponent(printed);
}

std::wstring FormatEventMessage(const TaskEvent& event) {
  std::wstring text;
  text.reserve(256);
  text += Unsigned(event.kind);
  for (unsigned position = task_event::kFolder; position <= task_event::kMessage; ++position) {
    text += L'|';
    text += *TextAt(event, position);
  }
  text += L'|' + Unsigned(event.queuePosition);
  text += L'|' + event.stateName;
  text += L'|' + FormatGeneralNumber(event.percent);
  text += L'|' + Unsigned(event.connections);
  text += L'|' + Unsigned(event.complete);
  text += L'|' + Unsigned(event.state);
  text += L'|' + Signed(event.errorCode);
  text += L'|' + Unsigned(event.speed);
  text += L'|' + Signed(event.size);
  text += L'|' + Signed(event.done);
  return text;
}

std::wstring FormatTaskRecordText(const _TaskParam& record) {
  std::wstring text = record.key;
  text += L'|' + record.text1;
  text += L'|' + record.text2;
  text += L'|' + record.text3;
  text += L'|' + Unsigned(record.state);
  text += L'|' + Unsigned(static_cast<uint64_t>(record.number1));
  text += L'|' + Unsigned(static_cast<uint64_t>(record.number2));
  text += L'|' + Unsigned(record.number3);
  text += L'|' + record.text4;
  text += L'|' + record.text5;
  return text;
}
