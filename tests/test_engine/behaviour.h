// What the engine answers: the result rules a test sets for chosen methods,
// and the out values (numbers, texts, lists, task information) its methods
// hand back. Process-wide; read by the objects on any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/test_engine/test_engine_control.h"

namespace behaviour {

struct Decision {
  HRESULT result;
  std::optional<std::wstring> description;
};

// The first matching rule's decision for this call, counting the call
// against the rule; nothing when no rule applies.
std::optional<Decision> Decide(const wchar_t* object, const wchar_t* method, const IID* iid);

HRESULT AddRule(const TestEngineRule& rule);

using Text = std::optional<std::wstring>;  // nullopt: a null BSTR

HRESULT SetOutNumber(const wchar_t* method, int64_t value);
HRESULT SetOutText(const wchar_t* method, const wchar_t* text);
HRESULT SetList(const wchar_t* method, const wchar_t* const* items, uint32_t count, LONG lowerBound);
HRESULT SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info);

std::optional<int64_t> OutNumber(const wchar_t* method);
Text OutText(const wchar_t* method);  // a text not set: a null BSTR

struct List {
  std::vector<Text> items;
  LONG lowerBound = 0;
};
List OutList(const wchar_t* method);

struct TaskInfo {
  Text texts[4];
  bool writeState = false;
  BYTE state = 0;
  int64_t size = 0;
  int64_t done = 0;
  uint32_t speed = 0;
};
std::optional<TaskInfo> TaskInfoFor(const std::wstring& key);

void Reset();

}  // namespace behaviour
