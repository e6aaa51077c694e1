#include "tests/test_engine/call_record.h"

#include <ocidl.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>

#include "engine/engine_interfaces.h"
#include "tests/test_engine/engine_methods.h"
#include "tests/test_engine/holds.h"
#include "tests/test_engine/memory_ledger.h"

namespace {

// The thread's error object for a failing call, as an engine sets one.
void SetDescription(const std::wstring& description, const wchar_t* object, const IID* iid) {
  ICreateErrorInfo* create = nullptr;
  if (CreateErrorInfo(&create) != S_OK || create == nullptr) return;
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  const wchar_t* progId = engine_methods::ProgId(object);
  if (progId != nullptr) create->SetSource(const_cast<LPOLESTR>(progId));
  if (iid != nullptr) create->SetGUID(*iid);
  IErrorInfo* info = nullptr;
  if (create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)) == S_OK && info != nullptr) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

const IID* InterfaceOf(const wchar_t* object) {
  if (std::wcscmp(object, L"Schedule") == 0) return &IID_ISchedule;
  if (std::wcscmp(object, L"Config") == 0) return &IID_IConfig;
  if (std::wcscmp(object, L"Download") == 0) return &IID_IDownload;
  if (std::wcscmp(object, L"ConnectionPoint") == 0) return &IID_IConnectionPoint;
  return nullptr;
}

}  // namespace

CallRecord::CallRecord(EngineObject* owner, const wchar_t* object, const wchar_t* method) : owner_(owner) {
  call_.object = object;
  call_.instance = owner != nullptr ? owner->Instance() : 0;
  call_.method = method;
  call_.slot = engine_methods::Slot(object, method);
  call_.thread = GetCurrentThreadId();
  // Releasing engine objects while an event is still inside the sink pulls
  // them from under that event.
  if (std::wcscmp(method, L"Release") == 0 && holds::ArchiveTaskWaitingElsewhere())
    call_log::Fault(std::wstring(object) + L".Release while an ArchiveTask call was still inside the sink");
}

CallRecord& CallRecord::Add(TestEngineValueType type, int64_t number, uint32_t flags) {
  LoggedValue value;
  value.view.type = type;
  value.view.flags = flags;
  value.view.number = number;
  call_.arguments.push_back(std::move(value));
  return *this;
}

CallRecord& CallRecord::Text(BSTR text) {
  if (text == nullptr) return Add(TestEngineValue_NullText, 0, 0);
  std::size_t length = 0;
  uint32_t flags = 0;
  if (!memory_ledger::IsLiveBstr(text, &length)) {
    // Not made by SysAllocString (or already freed): its length prefix
    // cannot be trusted, so read up to the NUL and report the caller.
    flags = TEST_ENGINE_VALUE_NOT_BSTR;
    length = std::wcslen(text);
    call_log::Fault(call_.object + L"." + call_.method + L": argument " + std::to_wstring(call_.arguments.size() + 1) +
                    L" is not a live BSTR");
  }
  Add(TestEngineValue_Text, 0, flags);
  call_.arguments.back().text.assign(text, length);
  return *this;
}

CallRecord& CallRecord::Signed(int64_t value) { return Add(TestEngineValue_Signed, value, 0); }

CallRecord& CallRecord::Unsigned(uint64_t value) { return Add(TestEngineValue_Unsigned, static_cast<int64_t>(value), 0); }

CallRecord& CallRecord::Guid(REFIID value) {
  Add(TestEngineValue_Guid, 0, 0);
  call_.arguments.back().view.guid = value;
  return *this;
}

CallRecord& CallRecord::Pointer(const void* value) {
  return Add(TestEngineValue_Pointer, static_cast<int64_t>(reinterpret_cast<intptr_t>(value)), 0);
}

CallRecord& CallRecord::OutNull() { return Add(TestEngineValue_Pointer, 0, TEST_ENGINE_VALUE_OUT); }

CallRecord& CallRecord::OutText(const BSTR* storage) {
  if (storage == nullptr) return OutNull();
  BSTR preset = *storage;
  if (preset == nullptr) return Add(TestEngineValue_NullText, 0, TEST_ENGINE_VALUE_OUT);
  std::size_t length = 0;
  // Storage the caller did not initialise holds anything; only a live BSTR is read.
  if (!memory_ledger::IsLiveBstr(preset, &length))
    return Add(TestEngineValue_Pointer, static_cast<int64_t>(reinterpret_cast<intptr_t>(preset)), TEST_ENGINE_VALUE_OUT);
  Add(TestEngineValue_Text, 0, TEST_ENGINE_VALUE_OUT);
  call_.arguments.back().text.assign(preset, length);
  return *this;
}

CallRecord& CallRecord::OutVariant(const VARIANT* storage) {
  if (storage == nullptr) return OutNull();
  return Add(TestEngineValue_Unsigned, V_VT(storage), TEST_ENGINE_VALUE_OUT);
}

bool CallRecord::Proceed(const IID* iid) {
  if (owner_ != nullptr && !owner_->Live()) {
    dead_ = true;
    call_log::Fault(call_.object + L"." + call_.method + L" called after the object's last Release");
    return false;
  }
  decision_ = behaviour::Decide(call_.object.c_str(), call_.method.c_str(), iid);
  return !decision_ || decision_->result >= 0;
}

void CallRecord::Log(int64_t result) {
  call_.result = result;
  call_log::Append(std::move(call_));
}

HRESULT CallRecord::End(HRESULT normal) {
  HRESULT result = normal;
  if (dead_) {
    result = E_UNEXPECTED;
  } else if (decision_) {
    result = decision_->result;
    if (decision_->description) SetDescription(*decision_->description, call_.object.c_str(), InterfaceOf(call_.object.c_str()));
  }
  Log(result);
  return result;
}

ULONG CallRecord::EndCount(ULONG count) {
  Log(count);
  return count;
}
