// The control functions of test_engine_control.h. Each starts the engine
// (the first of them, or the first class object, does the work) and keeps
// C++ exceptions inside the DLL.
#include "tests/test_engine/test_engine_control.h"

#include "tests/test_engine/behaviour.h"
#include "tests/test_engine/call_log.h"
#include "tests/test_engine/com_guard.h"
#include "tests/test_engine/engine_object.h"
#include "tests/test_engine/engine_start.h"
#include "tests/test_engine/event_firing.h"
#include "tests/test_engine/holds.h"
#include "tests/test_engine/memory_ledger.h"

extern "C" {

uint32_t TestEngine_CallCount(void) {
  EnsureEngineStarted();
  return call_log::Count();
}

BOOL TestEngine_GetCall(uint32_t index, TestEngineCall* call) {
  EnsureEngineStarted();
  return call_log::Get(index, call) ? TRUE : FALSE;
}

void TestEngine_ClearLog(void) {
  EnsureEngineStarted();
  call_log::Clear();
}

uint32_t TestEngine_FaultCount(void) {
  EnsureEngineStarted();
  return call_log::FaultCount();
}

const wchar_t* TestEngine_GetFault(uint32_t index) {
  EnsureEngineStarted();
  return call_log::GetFault(index);
}

void TestEngine_ClearFaults(void) {
  EnsureEngineStarted();
  call_log::ClearFaults();
}

void TestEngine_Reset(void) {
  EnsureEngineStarted();
  ComGuard([] {
    event_firing::Reset();
    return S_OK;
  });
  call_log::Clear();
  call_log::ClearFaults();
  behaviour::Reset();
  object_table::Reset();
  memory_ledger::Reset();
}

HRESULT TestEngine_AddRule(const TestEngineRule* rule) {
  EnsureEngineStarted();
  if (rule == nullptr) return E_POINTER;
  return ComGuard([&] { return behaviour::AddRule(*rule); });
}

HRESULT TestEngine_SetOutNumber(const wchar_t* method, int64_t value) {
  EnsureEngineStarted();
  return ComGuard([&] { return behaviour::SetOutNumber(method, value); });
}

HRESULT TestEngine_SetOutText(const wchar_t* method, const wchar_t* text) {
  EnsureEngineStarted();
  return ComGuard([&] { return behaviour::SetOutText(method, text); });
}

HRESULT TestEngine_SetList(const wchar_t* method, const wchar_t* const* items, uint32_t count, LONG lowerBound) {
  EnsureEngineStarted();
  return ComGuard([&] { return behaviour::SetList(method, items, count, lowerBound); });
}

HRESULT TestEngine_SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info) {
  EnsureEngineStarted();
  return ComGuard([&] { return behaviour::SetTaskInfo(key, info); });
}

HRESULT TestEngine_FireEvent(const TestEngineEvent* event, TestEngineFireResult* result) {
  EnsureEngineStarted();
  if (event == nullptr) return E_POINTER;
  return ComGuard([&] { return event_firing::Fire(*event, result); });
}

uint32_t TestEngine_FireEventOnWorker(const TestEngineEvent* event) {
  EnsureEngineStarted();
  if (event == nullptr) return 0;
  return ComGuard<uint32_t>(0, [&] { return event_firing::FireOnWorker(*event); });
}

void TestEngine_HoldWorkers(BOOL hold) {
  EnsureEngineStarted();
  event_firing::HoldWorkers(hold != FALSE);
}

// Both take the workers' lock, which can throw: a failure reads as "not done".
BOOL TestEngine_WaitForWorkers(DWORD timeoutMilliseconds) {
  EnsureEngineStarted();
  return ComGuard<BOOL>(FALSE, [&] { return event_firing::WaitForWorkers(timeoutMilliseconds) ? TRUE : FALSE; });
}

BOOL TestEngine_GetWorkerResult(uint32_t ticket, HRESULT* fired, TestEngineFireResult* result) {
  EnsureEngineStarted();
  return ComGuard<BOOL>(FALSE, [&] { return event_firing::WorkerResult(ticket, fired, result) ? TRUE : FALSE; });
}

void TestEngine_Hold(int32_t place, BOOL hold) {
  EnsureEngineStarted();
  if (place != TestEngineHold_ArchiveTask && place != TestEngineHold_Invoke) return;
  holds::Set(static_cast<holds::Place>(place), hold != FALSE);
}

BOOL TestEngine_WaitForHeld(int32_t place, uint32_t count, DWORD timeoutMilliseconds) {
  EnsureEngineStarted();
  if (place != TestEngineHold_ArchiveTask && place != TestEngineHold_Invoke) return FALSE;
  return ComGuard<BOOL>(FALSE, [&] {
    return holds::WaitForWaiting(static_cast<holds::Place>(place), count, timeoutMilliseconds) ? TRUE : FALSE;
  });
}

uint32_t TestEngine_ObjectCount(const wchar_t* object, BOOL liveOnly) {
  EnsureEngineStarted();
  return object_table::Count(object, liveOnly != FALSE);
}

BOOL TestEngine_GetObject(const wchar_t* object, uint32_t instance, TestEngineObjectInfo* info) {
  EnsureEngineStarted();
  EngineObject* found = object_table::Find(object, instance);
  if (found == nullptr || info == nullptr) return FALSE;
  *info = found->Info();
  return TRUE;
}

void TestEngine_GetLedger(TestEngineLedger* ledger) {
  EnsureEngineStarted();
  if (ledger != nullptr) memory_ledger::Get(ledger);
}

}  // extern "C"
