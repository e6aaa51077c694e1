// One call received by an engine object, from its arrival to its return:
// the arguments as they came, the rule that may decide the result, the error
// object a rule asks for, and the log entry written when the call returns.
//
//   CallRecord call(this, L"Download", L"Move");
//   call.Text(key).Unsigned(position);
//   if (!call.Proceed()) return call.End();
//   ... the method's work ...
//   return call.End(S_OK);
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

#include "tests/test_engine/behaviour.h"
#include "tests/test_engine/call_log.h"
#include "tests/test_engine/engine_object.h"

class CallRecord {
 public:
  CallRecord(EngineObject* owner, const wchar_t* object, const wchar_t* method);
  CallRecord(const CallRecord&) = delete;
  CallRecord& operator=(const CallRecord&) = delete;

  // In parameters.
  CallRecord& Text(BSTR text);
  CallRecord& Signed(int64_t value);
  CallRecord& Unsigned(uint64_t value);
  CallRecord& Guid(REFIID value);
  CallRecord& Pointer(const void* value);
  // The object a creation made, once known.
  void Instance(uint32_t instance) { call_.instance = instance; }

  // Out parameters: what the caller's storage held on entry.
  template <typename Number>
  CallRecord& OutNumber(const Number* storage, bool isSigned) {
    if (storage == nullptr) return OutNull();
    if (isSigned) return Add(TestEngineValue_Signed, static_cast<int64_t>(*storage), TEST_ENGINE_VALUE_OUT);
    return Add(TestEngineValue_Unsigned, static_cast<int64_t>(*storage), TEST_ENGINE_VALUE_OUT);
  }
  CallRecord& OutText(const BSTR* storage);
  CallRecord& OutVariant(const VARIANT* storage);

  // False when the call must not do its work: a rule answers a failure, or
  // the object is dead. iid: the identifier asked for, for rules keyed by one.
  bool Proceed(const IID* iid = nullptr);
  // Logs the call and returns what the caller receives: a rule's result
  // when one decided, otherwise normal.
  HRESULT End(HRESULT normal = S_OK);
  // For AddRef and Release: logs the count they return.
  ULONG EndCount(ULONG count);

 private:
  CallRecord& Add(TestEngineValueType type, int64_t number, uint32_t flags);
  CallRecord& OutNull();
  void Log(int64_t result);

  EngineObject* owner_;
  LoggedCall call_;
  std::optional<behaviour::Decision> decision_;
  bool dead_ = false;
};
