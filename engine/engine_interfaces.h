// The download engine's COM contract: three dual interfaces called through
// their virtual tables, every method at its fixed slot (slots 0-2 IUnknown,
// 3-6 IDispatch, own methods from 7), and the event interface of the Download
// object's connection point. Slots the plug-in never calls are held by
// placeholders so that every later slot stays where the engine has it.
#pragma once

#include <windows.h>
#include <oaidl.h>

// Interface identifiers.
// {051AB774-9AE7-455C-9B76-15E2B52FE5AB}
constexpr IID IID_ISchedule = {0x051AB774, 0x9AE7, 0x455C, {0x9B, 0x76, 0x15, 0xE2, 0xB5, 0x2F, 0xE5, 0xAB}};
// {38CB9CE0-6B8D-4AA4-99E5-F1C418B100E6}
constexpr IID IID_IConfig = {0x38CB9CE0, 0x6B8D, 0x4AA4, {0x99, 0xE5, 0xF1, 0xC4, 0x18, 0xB1, 0x00, 0xE6}};
// {3D00073A-EDC9-4E13-95AE-9D02FBCCD572}
constexpr IID IID_IDownload = {0x3D00073A, 0xEDC9, 0x4E13, {0x95, 0xAE, 0x9D, 0x02, 0xFB, 0xCC, 0xD5, 0x72}};
// The event interface offered by the Download object's connection point; its
// one event is described in engine/task_event.h.
// {A8316529-806D-427F-BAF4-981214AD28A3}
constexpr IID DIID_ITaskEvents = {0xA8316529, 0x806D, 0x427F, {0xBA, 0xF4, 0x98, 0x12, 0x14, 0xAD, 0x28, 0xA3}};

// Parameter kinds: a flag is 0 or 1 in a 32-bit slot; an out BSTR belongs to the
// caller (null means empty); a list is an out VARIANT holding a one-dimensional
// SAFEARRAY of BSTR VARIANTs with lower bound 0, also the caller's to free.

struct ISchedule : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE StartupStep1() = 0;   // 7
  virtual HRESULT STDMETHODCALLTYPE StartupStep2() = 0;   // 8
  virtual HRESULT STDMETHODCALLTYPE ShutdownStep() = 0;   // 9
};

struct IConfig : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE SetProxy(BSTR host, long port, BSTR user, BSTR password, BSTR domain,
                                             BSTR kind) = 0;                            // 7
  virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;                                      // 8
  virtual HRESULT STDMETHODCALLTYPE SetUPnP(long flag) = 0;                             // 9
  virtual HRESULT STDMETHODCALLTYPE GetUPnP(long* flag) = 0;                            // 10
  virtual HRESULT STDMETHODCALLTYPE SetLimitSpeed(long download, long upload) = 0;      // 11
  virtual HRESULT STDMETHODCALLTYPE GetLimitSpeed(BYTE which, long* speed) = 0;         // 12
  virtual HRESULT STDMETHODCALLTYPE SetDiskCache(long size) = 0;                        // 13
  virtual HRESULT STDMETHODCALLTYPE GetDiskCache(long* size) = 0;                       // 14
  virtual HRESULT STDMETHODCALLTYPE SetMaxDownloadCount(long count) = 0;                // 15
  virtual HRESULT STDMETHODCALLTYPE GetMaxDownloadCount(long* count) = 0;               // 16
  virtual HRESULT STDMETHODCALLTYPE SetAutoStart(long flag) = 0;                        // 17
  virtual HRESULT STDMETHODCALLTYPE GetAutoStart(long* flag) = 0;                       // 18
  virtual HRESULT STDMETHODCALLTYPE SetUDPPort(long port) = 0;                          // 19
  virtual HRESULT STDMETHODCALLTYPE GetUDPPort(long* port) = 0;                         // 20
  virtual HRESULT STDMETHODCALLTYPE SetDownloadSingleThread(long flag) = 0;             // 21
  virtual HRESULT STDMETHODCALLTYPE GetDownloadSingleThread(long* flag) = 0;            // 22
  virtual HRESULT STDMETHODCALLTYPE GetPeerID(BSTR* peerId) = 0;                        // 23
  virtual HRESULT STDMETHODCALLTYPE GetIP(BSTR* address) = 0;                           // 24
  virtual HRESULT STDMETHODCALLTYPE SetClientVersion(BSTR version) = 0;                 // 25
};

struct IDownload : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE StartupStep1() = 0;                                 // 7
  virtual HRESULT STDMETHODCALLTYPE CreateDownload(BSTR url, BSTR folder, BSTR fileName, BSTR referrer,
                                                   long connections, long flags, BYTE* state) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE StopDownload(BSTR key) = 0;                         // 9
  virtual HRESULT STDMETHODCALLTYPE DeleteDownload(BSTR key, long flag) = 0;            // 10
  virtual HRESULT STDMETHODCALLTYPE GetBlockStatusList(BSTR key, BSTR* text, long* count) = 0;  // 11
  virtual HRESULT STDMETHODCALLTYPE GetResourceSize(BSTR key, long* size) = 0;          // 12
  virtual HRESULT STDMETHODCALLTYPE Unused13() = 0;                                     // 13
  virtual HRESULT STDMETHODCALLTYPE SetCookie(BSTR cookie, long flag) = 0;              // 14
  virtual HRESULT STDMETHODCALLTYPE ClearCookie() = 0;                                  // 15
  virtual HRESULT STDMETHODCALLTYPE GetTotalDownloadSpeed(long* speed) = 0;             // 16
  virtual HRESULT STDMETHODCALLTYPE GetDownloadingCount(long* count) = 0;               // 17
  virtual HRESULT STDMETHODCALLTYPE StartupStep2() = 0;                                 // 18
  virtual HRESULT STDMETHODCALLTYPE Unused19() = 0;                                     // 19
  virtual HRESULT STDMETHODCALLTYPE Unused20() = 0;                                     // 20
  virtual HRESULT STDMETHODCALLTYPE CancelDownload(BSTR key) = 0;                       // 21
  virtual HRESULT STDMETHODCALLTYPE ImportTask(BSTR task) = 0;                          // 22
  virtual HRESULT STDMETHODCALLTYPE Move(BSTR key, BYTE position) = 0;                  // 23
  virtual HRESULT STDMETHODCALLTYPE Unused24() = 0;                                     // 24
  // The values of a finished task's event handed back (engine/task_event.h: ArchiveTaskEvent).
  virtual HRESULT STDMETHODCALLTYPE ArchiveTask(BYTE connections, BSTR fileName, LONGLONG size, BSTR path,
                                                BSTR finalUrl, BSTR contentType, BSTR key, BSTR url, BSTR created,
                                                BSTR finished, ULONG averageSpeed, BYTE complete,
                                                long reserved) = 0;  // 25
  virtual HRESULT STDMETHODCALLTYPE ListWorkTasks(VARIANT* keys) = 0;                   // 26
  // The caller presets state to 0xFF: still 0xFF afterwards means no such task.
  virtual HRESULT STDMETHODCALLTYPE QueryTaskInfo(BSTR key, BSTR* url, BSTR* folder, BSTR* fileName, BYTE* state,
                                                  LONGLONG* size, LONGLONG* done, ULONG* speed,
                                                  BSTR* message) = 0;                   // 27
  virtual HRESULT STDMETHODCALLTYPE ListFinishedTasks(VARIANT* texts) = 0;              // 28
  virtual HRESULT STDMETHODCALLTYPE DeleteDownload2(BSTR key, BSTR path, long flag) = 0;  // 29
};

// __uuidof(ISchedule) and the others name these identifiers.
__CRT_UUID_DECL(ISchedule, 0x051AB774, 0x9AE7, 0x455C, 0x9B, 0x76, 0x15, 0xE2, 0xB5, 0x2F, 0xE5, 0xAB)
__CRT_UUID_DECL(IConfig, 0x38CB9CE0, 0x6B8D, 0x4AA4, 0x99, 0xE5, 0xF1, 0xC4, 0x18, 0xB1, 0x00, 0xE6)
__CRT_UUID_DECL(IDownload, 0x3D00073A, 0xEDC9, 0x4E13, 0x95, 0xAE, 0x9D, 0x02, 0xFB, 0xCC, 0xD5, 0x72)

// ProgIDs.
constexpr wchar_t kScheduleProgId[] = L"transfer.Schedule";
constexpr wchar_t kConfigProgId[] = L"transfer.Config";
constexpr wchar_t kDownloadProgId[] = L"transfer.Download";
