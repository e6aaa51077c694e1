// The test's side of the test engine: loads halvo_test_engine.dll from the
// path the registration uses (so COM and the test share one copy), finds its
// control functions and offers them in C++ terms. The log comes back as
// copies, and as lines such as
//   Download.DeleteDownload2("key", null, 1)
//   Download.QueryTaskInfo("k", out null, out null, out null, out 255, out 0, out 0, out 0, out null)
// (texts quoted with \" \\ and \uXXXX for anything outside printable ASCII,
// null for a null BSTR, "out" before an out parameter's preset, ! before a
// text that was not a live BSTR, interface names for known identifiers).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/test_engine/test_engine_control.h"

struct EngineValue {
  TestEngineValueType type;
  uint32_t flags = 0;
  int64_t number = 0;
  double real = 0;
  GUID guid{};
  std::wstring text;
};

struct EngineCall {
  uint32_t sequence = 0;
  std::wstring object;
  uint32_t instance = 0;
  std::wstring method;
  int32_t slot = 0;
  DWORD thread = 0;
  int64_t result = 0;
  std::vector<EngineValue> args;

  std::string Line() const;
};

using OptionalText = std::optional<std::wstring>;  // nullopt: a null BSTR

class TestEngine {
 public:
  // Loads the DLL and resets it.
  TestEngine();
  ~TestEngine();
  TestEngine(const TestEngine&) = delete;
  TestEngine& operator=(const TestEngine&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  HMODULE Module() const { return module_; }
  void Reset();

  // The log.
  std::vector<EngineCall> Calls() const;
  // Lines of the log; AddRef and Release are left out unless asked for.
  std::vector<std::string> Lines(bool withReferenceCounting = false) const;
  void ClearLog();
  std::vector<std::wstring> Faults() const;
  void ClearFaults();

  // Results.
  void Fail(const wchar_t* object, const wchar_t* method, HRESULT result, const wchar_t* description = nullptr,
            uint32_t skip = 0, uint32_t times = 0);
  HRESULT AddRule(const TestEngineRule& rule);

  // Out values.
  HRESULT SetOutNumber(const wchar_t* method, int64_t value);
  HRESULT SetOutText(const wchar_t* method, const wchar_t* text);
  HRESULT SetList(const wchar_t* method, const std::vector<OptionalText>& items, LONG lowerBound = 0);
  HRESULT SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info);

  // Events; args in COM order.
  HRESULT Fire(VARIANT* args, uint32_t count, DISPID dispid = 1, TestEngineFireResult* result = nullptr,
               uint32_t download = 0);
  uint32_t FireOnWorker(VARIANT* args, uint32_t count, DISPID dispid = 1, uint32_t download = 0);
  void HoldWorkers(bool hold);
  bool WaitForWorkers(DWORD timeoutMilliseconds = 30000);
  bool WorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result);
  // Calls wait at the place while it is held (test_engine_control.h).
  void Hold(TestEngineHold place, bool hold);
  bool WaitForHeld(TestEngineHold place, uint32_t count = 1, DWORD timeoutMilliseconds = 30000);

  // Objects and memory.
  uint32_t ObjectCount(const wchar_t* object = nullptr, bool liveOnly = true) const;
  std::optional<TestEngineObjectInfo> Object(const wchar_t* object, uint32_t instance = 1) const;
  TestEngineLedger Ledger() const;

  // Adds a test failure for every fault, live object and handed-out memory
  // not freed.
  void ExpectClean() const;

 private:
  template <typename Function>
  Function Find(const char* name);

  HMODULE module_ = nullptr;
  decltype(&TestEngine_CallCount) callCount_ = nullptr;
  decltype(&TestEngine_GetCall) getCall_ = nullptr;
  decltype(&TestEngine_ClearLog) clearLog_ = nullptr;
  decltype(&TestEngine_FaultCount) faultCount_ = nullptr;
  decltype(&TestEngine_GetFault) getFault_ = nullptr;
  decltype(&TestEngine_ClearFaults) clearFaults_ = nullptr;
  decltype(&TestEngine_Reset) reset_ = nullptr;
  decltype(&TestEngine_AddRule) addRule_ = nullptr;
  decltype(&TestEngine_SetOutNumber) setOutNumber_ = nullptr;
  decltype(&TestEngine_SetOutText) setOutText_ = nullptr;
  decltype(&TestEngine_SetList) setList_ = nullptr;
  decltype(&TestEngine_SetTaskInfo) setTaskInfo_ = nullptr;
  decltype(&TestEngine_FireEvent) fireEvent_ = nullptr;
  decltype(&TestEngine_FireEventOnWorker) fireEventOnWorker_ = nullptr;
  decltype(&TestEngine_HoldWorkers) holdWorkers_ = nullptr;
  decltype(&TestEngine_WaitForWorkers) waitForWorkers_ = nullptr;
  decltype(&TestEngine_GetWorkerResult) getWorkerResult_ = nullptr;
  decltype(&TestEngine_Hold) hold_ = nullptr;
  decltype(&TestEngine_WaitForHeld) waitForHeld_ = nullptr;
  decltype(&TestEngine_ObjectCount) objectCount_ = nullptr;
  decltype(&TestEngine_GetObject) getObject_ = nullptr;
  decltype(&TestEngine_GetLedger) getLedger_ = nullptr;
};

// A wide text as the log lines quote it.
std::string QuoteText(const std::wstring& text);
