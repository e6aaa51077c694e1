#include "transfer/message_relay.h"

#include "transfer/page_channel.h"

namespace {

const UINT kWake = WM_APP + 1;
const wchar_t kWindowClass[] = L"HalvoPageMessageRelay";

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
  return module;
}

}  // namespace

PageMessageRelay::PageMessageRelay(NPP npp, DWORD pluginThread) : npp_(npp), pluginThread_(pluginThread) {}

PageMessageRelay::~PageMessageRelay() {
  if (window_ != nullptr && GetCurrentThreadId() == pluginThread_) DestroyWindow(window_);
}

std::shared_ptr<PageMessageRelay> PageMessageRelay::Create(NPP npp) {
  auto relay = std::make_shared<PageMessageRelay>(npp, GetCurrentThreadId());
  HINSTANCE instance = ModuleInstance();
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // fails harmlessly when already registered
  relay->window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (relay->window_ != nullptr)
    SetWindowLongPtrW(relay->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(relay.get()));
  return relay;
}

void PageMessageRelay::Deliver(const std::wstring& text) {
  std::unique_lock<std::mutex> guard(mutex_);
  if (closed_) return;
  if (GetCurrentThreadId() == pluginThread_ && queue_.empty() && !draining_) {
    guard.unlock();
    auto keepAlive = shared_from_this();
    PostPageMessage(npp_, text);
    return;
  }
  if (window_ == nullptr) return;  // nothing can carry it to the plug-in thread
  queue_.push_back(text);
  if (!wakePending_) {
    wakePending_ = true;
    PostMessageW(window_, kWake, 0, 0);
  }
}

void PageMessageRelay::Close() {
  HWND window = nullptr;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = true;
    queue_.clear();
    window = window_;
    window_ = nullptr;
  }
  if (window != nullptr) DestroyWindow(window);
  // A class left registered would outlive the module and point into freed code;
  // this fails harmlessly while other instances still have their window.
  UnregisterClassW(kWindowClass, ModuleInstance());
}

void PageMessageRelay::Drain() {
  auto keepAlive = shared_from_this();
  std::unique_lock<std::mutex> guard(mutex_);
  wakePending_ = false;
  if (draining_) return;  // an outer drain further up this thread's stack goes on
  draining_ = true;
  while (!closed_ && !queue_.empty()) {
    std::wstring text = std::move(queue_.front());
    queue_.pop_front();
    guard.unlock();
    PostPageMessage(npp_, text);
    guard.lock();
  }
  draining_ = false;
}

LRESULT CALLBACK PageMessageRelay::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kWake) {
    auto* relay = reinterpret_cast<PageMessageRelay*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (relay != nullptr) {
      try {
        relay->Drain();
      } catch (...) {
      }
    }
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}
