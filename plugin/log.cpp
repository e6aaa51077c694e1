#include "plugin/log.h"

#include <windows.h>

#include <cstdio>
#include <share.h>

namespace {

FILE* logFile = nullptr;
SYSTEMTIME clockRecord;

// Closes the file when the module is unloaded, not at NP_Shutdown.
struct LogCloser {
  ~LogCloser() { CloseLogFile(); }
} logCloser;

}  // namespace

bool OpenLogFile() {
  if (logFile != nullptr) return false;
  GetLocalTime(&clockRecord);
  char name[260];
  std::snprintf(name, sizeof name, "C:\\screencapturelog\\%s_%d%02d%02d_%d.log", "NPAPI", clockRecord.wYear,
                clockRecord.wMonth, clockRecord.wDay, static_cast<int>(GetCurrentProcessId()));
  // Opened without sharing: nobody else reads or writes it while it is open.
  logFile = _fsopen(name, "a", _SH_DENYRW);
  return logFile != nullptr;
}

bool WriteLog(const char* text) {
  if (logFile == nullptr) return false;
  GetLocalTime(&clockRecord);
  int written = std::fprintf(logFile, "[%02d:%02d:%02d %03d] [%s] %s\n", clockRecord.wHour, clockRecord.wMinute,
                             clockRecord.wSecond, clockRecord.wMilliseconds, "msg", text);
  if (written <= 0) return false;
  // Flushed at once so the file is complete even if the browser dies.
  std::fflush(logFile);
  return true;
}

void CloseLogFile() {
  if (logFile == nullptr) return;
  std::fclose(logFile);
  logFile = nullptr;
}
