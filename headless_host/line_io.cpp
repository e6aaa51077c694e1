#include "headless_host/line_io.h"

LineInput::LineInput() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

LineInput::~LineInput() {
  // The reading thread may sit in ReadFile for good; the process ends it.
  if (thread_ != nullptr) CloseHandle(thread_);
  CloseHandle(ready_);
}

bool LineInput::Start() {
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  return thread_ != nullptr;
}

DWORD WINAPI LineInput::Run(void* self) {
  static_cast<LineInput*>(self)->Read();
  return 0;
}

void LineInput::Read() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    pending.append(buffer, got);
    std::size_t end;
    bool added = false;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> guard(mutex_);
      lines_.push_back(std::move(line));
      added = true;
    }
    if (added) SetEvent(ready_);
  }
  std::lock_guard<std::mutex> guard(mutex_);
  if (!pending.empty()) lines_.push_back(pending);
  ended_ = true;
  SetEvent(ready_);
}

bool LineInput::Pop(std::string* line) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (lines_.empty()) {
    if (!ended_) ResetEvent(ready_);
    return false;
  }
  *line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

bool LineInput::Ended() {
  std::lock_guard<std::mutex> guard(mutex_);
  return ended_ && lines_.empty();
}

void WriteLine(const std::string& line) {
  static std::mutex mutex;
  std::string whole = line + "\n";
  std::lock_guard<std::mutex> guard(mutex);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* at = whole.data();
  DWORD left = static_cast<DWORD>(whole.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(output, at, left, &written, nullptr) || written == 0) return;
    at += written;
    left -= written;
  }
}
