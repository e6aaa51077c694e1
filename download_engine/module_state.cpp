#include "download_engine/module_state.h"

#include <atomic>

namespace engine {

namespace {

HMODULE module_ = nullptr;
std::atomic<long> objects_{0};
std::atomic<long> locks_{0};

struct ThreadStart {
  std::function<void()> body;
  HMODULE pin;
};

DWORD WINAPI ThreadMain(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  HMODULE pin = start->pin;
  try {
    start->body();
  } catch (...) {
    // A thread's work ends with it; its owner handles the loss (see the bodies).
  }
  delete start;
  FreeLibraryAndExitThread(pin, 0);
}

}  // namespace

HMODULE ModuleHandle() {
  if (module_ == nullptr) {
    // Linked into a test program rather than loaded as the DLL.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleHandle), &module_);
  }
  return module_;
}

void SetModuleHandle(HMODULE module) { module_ = module; }

void ObjectCreated() { ++objects_; }
void ObjectDestroyed() { --objects_; }
void LockModule(bool lock) { lock ? ++locks_ : --locks_; }
bool ModuleInUse() { return objects_.load() > 0 || locks_.load() > 0; }

HANDLE StartModuleThread(std::function<void()> body) {
  HMODULE pin = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadMain), &pin))
    return nullptr;
  auto* start = new (std::nothrow) ThreadStart{std::move(body), pin};
  if (start == nullptr) {
    FreeLibrary(pin);
    return nullptr;
  }
  HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    FreeLibrary(pin);
  }
  return thread;
}

bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    ULONGLONG now = GetTickCount64();
    DWORD left = timeoutMs == INFINITE ? INFINITE : (now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
    DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace engine
