// The ordered log of every call the engine's objects receive, and the list of
// protocol faults they noticed. Process-wide; appended from any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_engine/test_engine_control.h"

struct LoggedValue {
  TestEngineValue view{};  // view.text points into text once the call is logged
  std::wstring text;
};

struct LoggedCall {
  std::wstring object;
  uint32_t instance = 0;
  std::wstring method;
  int32_t slot = 0;
  DWORD thread = 0;
  int64_t result = 0;
  std::vector<LoggedValue> arguments;
};

namespace call_log {

void Append(LoggedCall call);
uint32_t Count();
bool Get(uint32_t index, TestEngineCall* view);
void Clear();

void Fault(const std::wstring& text);
uint32_t FaultCount();
const wchar_t* GetFault(uint32_t index);
void ClearFaults();

}  // namespace call_log
