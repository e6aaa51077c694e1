// The diagnostic log: one file per browser process, appended to and flushed
// line by line.
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
  // The folder and the "NPAPI" prefix are where support and users have always
  // looked for this log; the folder is never created here, so the log stays
  // off unless someone made the folder on purpose.
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
