// Carries engine-event texts to the plug-in thread, which alone may call the
// host. A message-only window created on the plug-in thread is woken with
// PostMessage and posts the queued texts in arrival order. A text delivered on
// the plug-in thread while nothing waits is posted at once; otherwise it queues
// behind the older ones, so no event overtakes another.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "npapi/npapi.h"

class PageMessageRelay : public std::enable_shared_from_this<PageMessageRelay> {
 public:
  // On the plug-in thread. Without a window the relay still posts texts
  // delivered on the plug-in thread and drops the others.
  static std::shared_ptr<PageMessageRelay> Create(NPP npp);
  ~PageMessageRelay();

  void Deliver(const std::wstring& text);

  // On the plug-in thread: no more posting; what still waits is dropped.
  void Close();

  PageMessageRelay(NPP npp, DWORD pluginThread);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Drain();

  NPP npp_;
  DWORD pluginThread_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::deque<std::wstring> queue_;
  bool wakePending_ = false;
  bool draining_ = false;
  bool closed_ = false;
};
