#include "tests/support/debug_output.h"

#include <windows.h>

#include <mutex>

namespace {

std::mutex linesMutex;
std::vector<std::string> capturedLines;
PVOID handlerHandle = nullptr;

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006
#endif

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    std::size_t length = static_cast<std::size_t>(record->ExceptionInformation[0]);
    if (text != nullptr && length > 0) {
      std::lock_guard<std::mutex> lock(linesMutex);
      capturedLines.emplace_back(text, length - 1);  // the count includes the NUL
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
  Clear();
  handlerHandle = AddVectoredExceptionHandler(1, OnException);
}

DebugOutputCapture::~DebugOutputCapture() {
  if (handlerHandle != nullptr) RemoveVectoredExceptionHandler(handlerHandle);
  handlerHandle = nullptr;
}

std::vector<std::string> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(linesMutex);
  return capturedLines;
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(linesMutex);
  capturedLines.clear();
}
