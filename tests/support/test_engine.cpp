#include "tests/support/test_engine.h"

#include <gtest/gtest.h>
#include <ocidl.h>

#include <cstdio>

#include "engine/engine_interfaces.h"
#include "tests/support/test_engine_registration.h"

namespace {

std::string GuidName(const GUID& guid) {
  struct Known {
    const GUID* guid;
    const char* name;
  };
  static const Known known[] = {
      {&IID_IUnknown, "IUnknown"},
      {&IID_IDispatch, "IDispatch"},
      {&IID_ISchedule, "ISchedule"},
      {&IID_IConfig, "IConfig"},
      {&IID_IDownload, "IDownload"},
      {&DIID_ITaskEvents, "ITaskEvents"},
      {&IID_IConnectionPointContainer, "IConnectionPointContainer"},
      {&IID_IConnectionPoint, "IConnectionPoint"},
      {&IID_ISupportErrorInfo, "ISupportErrorInfo"},
      {&IID_IClassFactory, "IClassFactory"},
      {&IID_NULL, "IID_NULL"},
  };
  for (const Known& entry : known)
    if (*entry.guid == guid) return entry.name;
  char text[48];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string Render(const EngineValue& value) {
  std::string text = (value.flags & TEST_ENGINE_VALUE_OUT) != 0 ? "out " : "";
  switch (value.type) {
    case TestEngineValue_Text:
      if ((value.flags & TEST_ENGINE_VALUE_NOT_BSTR) != 0) text += "!";
      return text + QuoteText(value.text);
    case TestEngineValue_NullText:
      return text + "null";
    case TestEngineValue_Signed:
      return text + std::to_string(value.number);
    case TestEngineValue_Unsigned:
      return text + std::to_string(static_cast<uint64_t>(value.number));
    case TestEngineValue_Double: {
      char number[32];
      std::snprintf(number, sizeof number, "%.17g", value.real);
      return text + number;
    }
    case TestEngineValue_Guid:
      return text + GuidName(value.guid);
    case TestEngineValue_Pointer:
      return text + (value.number == 0 ? "nullptr" : "ptr");
  }
  return text + "?";
}

}  // namespace

std::string QuoteText(const std::wstring& text) {
  std::string quoted = "\"";
  for (wchar_t unit : text) {
    if (unit == L'"' || unit == L'\\') {
      quoted += '\\';
      quoted += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      quoted += static_cast<char>(unit);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
      quoted += escape;
    }
  }
  return quoted + "\"";
}

std::string EngineCall::Line() const {
  std::string line(object.begin(), object.end());
  line += ".";
  line += std::string(method.begin(), method.end());
  line += "(";
  for (std::size_t i = 0; i < args.size(); ++i) line += (i == 0 ? "" : ", ") + Render(args[i]);
  return line + ")";
}

template <typename Function>
Function TestEngine::Find(const char* name) {
  auto function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  if (function == nullptr) ADD_FAILURE() << "the test engine does not export " << name;
  return function;
}

TestEngine::TestEngine() {
  module_ = LoadLibraryW(TestEngineRegistration::EnginePath().c_str());
  if (module_ == nullptr) {
    ADD_FAILURE() << TEST_ENGINE_DLL << " not found beside the test program";
    return;
  }
  callCount_ = Find<decltype(callCount_)>("TestEngine_CallCount");
  getCall_ = Find<decltype(getCall_)>("TestEngine_GetCall");
  clearLog_ = Find<decltype(clearLog_)>("TestEngine_ClearLog");
  faultCount_ = Find<decltype(faultCount_)>("TestEngine_FaultCount");
  getFault_ = Find<decltype(getFault_)>("TestEngine_GetFault");
  clearFaults_ = Find<decltype(clearFaults_)>("TestEngine_ClearFaults");
  reset_ = Find<decltype(reset_)>("TestEngine_Reset");
  addRule_ = Find<decltype(addRule_)>("TestEngine_AddRule");
  setOutNumber_ = Find<decltype(setOutNumber_)>("TestEngine_SetOutNumber");
  setOutText_ = Find<decltype(setOutText_)>("TestEngine_SetOutText");
  setList_ = Find<decltype(setList_)>("TestEngine_SetList");
  setTaskInfo_ = Find<decltype(setTaskInfo_)>("TestEngine_SetTaskInfo");
  fireEvent_ = Find<decltype(fireEvent_)>("TestEngine_FireEvent");
  fireEventOnWorker_ = Find<decltype(fireEventOnWorker_)>("TestEngine_FireEventOnWorker");
  holdWorkers_ = Find<decltype(holdWorkers_)>("TestEngine_HoldWorkers");
  waitForWorkers_ = Find<decltype(waitForWorkers_)>("TestEngine_WaitForWorkers");
  getWorkerResult_ = Find<decltype(getWorkerResult_)>("TestEngine_GetWorkerResult");
  hold_ = Find<decltype(hold_)>("TestEngine_Hold");
  waitForHeld_ = Find<decltype(waitForHeld_)>("TestEngine_WaitForHeld");
  objectCount_ = Find<decltype(objectCount_)>("TestEngine_ObjectCount");
  getObject_ = Find<decltype(getObject_)>("TestEngine_GetObject");
  getLedger_ = Find<decltype(getLedger_)>("TestEngine_GetLedger");
  Reset();
}

TestEngine::~TestEngine() {
  if (module_ != nullptr) FreeLibrary(module_);  // the DLL pins itself; its state stays
}

void TestEngine::Reset() { reset_(); }

std::vector<EngineCall> TestEngine::Calls() const {
  std::vector<EngineCall> calls;
  uint32_t count = callCount_();
  for (uint32_t i = 0; i < count; ++i) {
    TestEngineCall view{};
    if (!getCall_(i, &view)) break;
    EngineCall call;
    call.sequence = view.sequence;
    call.object = view.object;
    call.instance = view.instance;
    call.method = view.method;
    call.slot = view.slot;
    call.thread = view.thread;
    call.result = view.result;
    for (uint32_t a = 0; a < view.argumentCount; ++a) {
      const TestEngineValue& from = view.arguments[a];
      EngineValue value;
      value.type = static_cast<TestEngineValueType>(from.type);
      value.flags = from.flags;
      value.number = from.number;
      value.real = from.real;
      value.guid = from.guid;
      if (from.type == TestEngineValue_Text) value.text.assign(from.text, from.textLength);
      call.args.push_back(std::move(value));
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<std::string> TestEngine::Lines(bool withReferenceCounting) const {
  std::vector<std::string> lines;
  for (const EngineCall& call : Calls()) {
    if (!withReferenceCounting && (call.method == L"AddRef" || call.method == L"Release")) continue;
    lines.push_back(call.Line());
  }
  return lines;
}

void TestEngine::ClearLog() { clearLog_(); }

std::vector<std::wstring> TestEngine::Faults() const {
  std::vector<std::wstring> faults;
  uint32_t count = faultCount_();
  for (uint32_t i = 0; i < count; ++i) faults.emplace_back(getFault_(i));
  return faults;
}

void TestEngine::ClearFaults() { clearFaults_(); }

void TestEngine::Fail(const wchar_t* object, const wchar_t* method, HRESULT result, const wchar_t* description,
                      uint32_t skip, uint32_t times) {
  TestEngineRule rule{object, method, nullptr, result, description, skip, times};
  EXPECT_EQ(S_OK, AddRule(rule));
}

HRESULT TestEngine::AddRule(const TestEngineRule& rule) { return addRule_(&rule); }

HRESULT TestEngine::SetOutNumber(const wchar_t* method, int64_t value) { return setOutNumber_(method, value); }

HRESULT TestEngine::SetOutText(const wchar_t* method, const wchar_t* text) { return setOutText_(method, text); }

HRESULT TestEngine::SetList(const wchar_t* method, const std::vector<OptionalText>& items, LONG lowerBound) {
  std::vector<const wchar_t*> pointers;
  for (const OptionalText& item : items) pointers.push_back(item ? item->c_str() : nullptr);
  return setList_(method, pointers.data(), static_cast<uint32_t>(pointers.size()), lowerBound);
}

HRESULT TestEngine::SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info) { return setTaskInfo_(key, info); }

HRESULT TestEngine::Fire(VARIANT* args, uint32_t count, DISPID dispid, TestEngineFireResult* result,
                         uint32_t download) {
  TestEngineEvent event{download, dispid, args, count};
  return fireEvent_(&event, result);
}

uint32_t TestEngine::FireOnWorker(VARIANT* args, uint32_t count, DISPID dispid, uint32_t download) {
  TestEngineEvent event{download, dispid, args, count};
  return fireEventOnWorker_(&event);
}

void TestEngine::HoldWorkers(bool hold) { holdWorkers_(hold ? TRUE : FALSE); }

void TestEngine::Hold(TestEngineHold place, bool hold) { hold_(place, hold ? TRUE : FALSE); }

bool TestEngine::WaitForHeld(TestEngineHold place, uint32_t count, DWORD timeoutMilliseconds) {
  return waitForHeld_(place, count, timeoutMilliseconds) != FALSE;
}

bool TestEngine::WaitForWorkers(DWORD timeoutMilliseconds) { return waitForWorkers_(timeoutMilliseconds) != FALSE; }

bool TestEngine::WorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result) {
  return getWorkerResult_(ticket, fired, result) != FALSE;
}

uint32_t TestEngine::ObjectCount(const wchar_t* object, bool liveOnly) const {
  return objectCount_(object, liveOnly ? TRUE : FALSE);
}

std::optional<TestEngineObjectInfo> TestEngine::Object(const wchar_t* object, uint32_t instance) const {
  TestEngineObjectInfo info{};
  if (!getObject_(object, instance, &info)) return std::nullopt;
  return info;
}

TestEngineLedger TestEngine::Ledger() const {
  TestEngineLedger ledger{};
  getLedger_(&ledger);
  return ledger;
}

void TestEngine::ExpectClean() const {
  for (const std::wstring& fault : Faults())
    ADD_FAILURE() << "engine fault: " << std::string(fault.begin(), fault.end());
  EXPECT_EQ(0u, ObjectCount(nullptr, true)) << "engine objects still referenced";
  TestEngineLedger ledger = Ledger();
  EXPECT_TRUE(ledger.reliable) << "the engine cannot see memory being freed";
  EXPECT_EQ(0u, ledger.textsOutstanding) << "BSTRs from the engine never freed";
  EXPECT_EQ(0u, ledger.listsOutstanding) << "lists from the engine never freed";
  EXPECT_EQ(0u, ledger.itemsOutstanding) << "list items from the engine never freed";
}
