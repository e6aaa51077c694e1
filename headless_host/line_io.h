// The host's standard streams: requests arrive as lines on standard input,
// read by a thread of their own so that the plug-in thread can wait for a
// line and for window messages at once; answers and reports leave as whole
// lines on standard output, from any thread.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

class LineInput {
 public:
  LineInput();
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // Starts the reading thread.
  bool Start();
  // Signalled while a line waits or the input has ended.
  HANDLE Ready() const { return ready_; }
  // The next line (without its end), or false when none waits.
  bool Pop(std::string* line);
  // True once the input has ended and every line was taken.
  bool Ended();

 private:
  static DWORD WINAPI Run(void* self);
  void Read();

  HANDLE ready_;
  HANDLE thread_ = nullptr;
  std::mutex mutex_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

// Writes one line; safe from every thread, each line whole.
void WriteLine(const std::string& line);
