// Collects the lines a module sends to the debugger output. OutputDebugStringA
// raises DBG_PRINTEXCEPTION_C; a vectored handler sees it before anyone else.
#pragma once

#include <string>
#include <vector>

class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::vector<std::string> Lines() const;
  void Clear();
};
