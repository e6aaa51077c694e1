// The download engine behind the COM objects: one per process, shared by every
// Schedule, Config and Download object. It keeps the work list and the
// finished list, schedules transfers within the download-slot limit, posts
// events, and saves settings and journal in its data folder.
//
// A session opens on first use (settings and journal loaded, the data folder
// locked against other processes, the event thread started) and closes when
// the last started Schedule object shuts down or the last COM object goes:
// running transfers stop, their progress is saved and they come back stopped,
// or queued again when AutoStart is on.
//
// The facade the COM objects call: it holds the one lock and the event hub,
// counts the objects, and hands each call to its part, each a class in a file
// of its own that keeps no lock of its own:
// - EngineSession (session.cpp): the data folder and its lock, the settings
//   (SettingsStore, their rules in setting_rules), the journal (Journal: the
//   work file, its log and the finished list) and its saving, the work list
//   (WorkList) and the finished list (FinishedList); a task from the journal
//   is rechecked by recovery_rules;
// - Scheduler (scheduler.cpp): the queue at work over the session's work list:
//   the slot rule (slot_rules), a transfer's plan (transfer_plans), its answer
//   and its end, a finished file renamed, the periodic work, the close;
// - TaskCommands (task_commands.cpp): the Download object's task commands;
//   a task's paths in task_paths;
// - EventPoster (engine_events.cpp): the events, built by task_events.
// The facade's own files: engine.cpp (open, close, the calls of the event
// thread and of the transfers), engine_finished.cpp (the finished list's
// commands) and engine_settings.cpp (the Config object's settings);
// engine_common.h holds what they share.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download_engine/engine_events.h"
#include "download_engine/event_hub.h"
#include "download_engine/finished_list.h"
#include "download_engine/scheduler.h"
#include "download_engine/session.h"
#include "download_engine/status.h"
#include "download_engine/task_commands.h"
#include "download_engine/task.h"
#include "download_engine/transfer.h"

namespace engine {

class Engine final : public TransferHost {
 public:
  static Engine& Instance();

  // Live COM objects: the session closes when the last one goes.
  void AddObject();
  void RemoveObject();
  EventHub& Events() { return hub_; }

  Status Open();
  void ScheduleStarted();
  void ScheduleStopped();
  // The first Download object ready in a session applies AutoStart.
  Status DownloadReady();

  // Settings.
  Status SetProxy(const ProxySettings& proxy);
  Status SetUpnp(bool on);
  Status GetUpnp(bool* on);
  Status SetLimitSpeed(long downloadKiB, long uploadKiB);
  Status GetLimitSpeed(BYTE which, long* kiB);
  Status SetDiskCache(long kiB);
  Status GetDiskCache(long* kiB);
  Status SetMaxDownloadCount(long count);
  Status GetMaxDownloadCount(long* count);
  Status SetAutoStart(bool on);
  Status GetAutoStart(bool* on);
  Status SetUdpPort(long port);
  Status GetUdpPort(long* port);
  Status SetSingleConnection(bool on);
  Status GetSingleConnection(bool* on);
  Status GetPeerId(std::wstring* id);
  Status GetAddress(std::wstring* address);
  Status SetClientVersion(const std::wstring& version);

  // Tasks.
  Status CreateDownload(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                        const std::wstring& referrer, long connections, long flags, BYTE* state);
  Status StopDownload(const std::wstring& key);
  Status CancelDownload(const std::wstring& key);
  Status DeleteDownload(const std::wstring& key, bool deleteFile);
  Status DeleteFinished(const std::wstring& key, const std::wstring& path, bool deleteFile);
  Status Move(const std::wstring& key, BYTE position);
  Status ImportTasks(const std::wstring& text);
  Status SetCookie(const std::wstring& text, bool persistent);
  Status ClearCookies();
  Status GetResourceSize(const std::wstring& key, long* size);
  Status GetBlockStatus(const std::wstring& key, std::wstring* text, long* count);
  Status GetTotalSpeed(long* bytesPerSecond);
  Status GetDownloadingCount(long* count);
  Status ListWorkKeys(std::vector<std::wstring>* keys);
  Status QueryTask(const std::wstring& key, TaskInfo* info, bool* found);
  Status ListFinishedTexts(std::vector<std::wstring>* texts);
  Status Archive(const ArchiveRecord& record);

  // TransferHost.
  bool TransferResponded(uint64_t taskId, const Transfer* transfer, const ResponseFacts& facts,
                         std::wstring* partialPath, HttpError* error) override;
  void TransferCheckpoint(uint64_t taskId, const Transfer* transfer) override;
  void TransferEnded(uint64_t taskId, const Transfer* transfer, const TransferOutcome& outcome) override;

 private:
  Engine();

  Status OpenLocked();
  void CloseSession();
  void Tick();

  // One stored setting read with the engine open.
  template <typename Field, typename Value>
  Status ReadSetting(Field Settings::*field, Value* value);

  std::mutex mutex_;
  EventHub hub_;
  int objects_ = 0;
  int scheduleUsers_ = 0;
  EngineSession session_;
  EventPoster events_{hub_, session_};
  Scheduler scheduler_{session_, events_, this};
  TaskCommands tasks_{session_, scheduler_, events_};
};

}  // namespace engine
