#include "tests/test_engine/call_log.h"

#include <deque>
#include <mutex>

namespace {

struct StoredCall {
  LoggedCall call;
  std::vector<TestEngineValue> views;
  uint32_t sequence;
};

// Heap-held and never destroyed: the log outlives the DLL's static
// destructors, which run while other modules may still call in at exit.
struct Log {
  std::mutex mutex;
  std::deque<StoredCall> calls;  // a deque keeps every stored element in place
  std::deque<std::wstring> faults;
};

Log& TheLog() {
  static Log* log = new Log;
  return *log;
}

}  // namespace

namespace call_log {

void Append(LoggedCall call) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.calls.push_back(StoredCall{std::move(call), {}, 0});
  StoredCall& stored = log.calls.back();
  stored.sequence = static_cast<uint32_t>(log.calls.size());
  for (LoggedValue& value : stored.call.arguments) {
    TestEngineValue view = value.view;
    if (view.type == TestEngineValue_Text) {
      view.text = value.text.c_str();
      view.textLength = static_cast<uint32_t>(value.text.size());
    } else {
      view.text = nullptr;
      view.textLength = 0;
    }
    stored.views.push_back(view);
  }
}

uint32_t Count() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  return static_cast<uint32_t>(log.calls.size());
}

bool Get(uint32_t index, TestEngineCall* view) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (view == nullptr || index >= log.calls.size()) return false;
  const StoredCall& stored = log.calls[index];
  view->sequence = stored.sequence;
  view->object = stored.call.object.c_str();
  view->instance = stored.call.instance;
  view->method = stored.call.method.c_str();
  view->slot = stored.call.slot;
  view->thread = stored.call.thread;
  view->result = stored.call.result;
  view->argumentCount = static_cast<uint32_t>(stored.views.size());
  view->arguments = stored.views.empty() ? nullptr : stored.views.data();
  return true;
}

void Clear() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.calls.clear();
}

void Fault(const std::wstring& text) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.faults.push_back(text);
}

uint32_t FaultCount() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  return static_cast<uint32_t>(log.faults.size());
}

const wchar_t* GetFault(uint32_t index) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  return index < log.faults.size() ? log.faults[index].c_str() : nullptr;
}

void ClearFaults() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  log.faults.clear();
}

}  // namespace call_log
