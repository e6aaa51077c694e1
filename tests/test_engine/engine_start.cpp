#include "tests/test_engine/engine_start.h"

#include <windows.h>

#include "tests/test_engine/memory_ledger.h"

namespace {

bool Start() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&EnsureEngineStarted), &self);
  memory_ledger::Install();
  return true;
}

}  // namespace

void EnsureEngineStarted() {
  static bool started = Start();  // once, whichever thread comes first
  (void)started;
}
