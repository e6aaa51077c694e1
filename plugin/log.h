// The diagnostic log: one timestamped line per instance or script-object event,
// in C:\screencapturelog\NPAPI_<yyyymmdd>_<pid>.log. The folder is never created
// here; without it nothing is written and nothing fails.
#pragma once

// Opens the log file unless one is already open; returns whether a stream was obtained.
bool OpenLogFile();

// Appends "[hh:mm:ss mmm] [msg] text"; false when no log is open or nothing was written.
bool WriteLog(const char* text);

// Closes the open log file (module unload).
void CloseLogFile();
