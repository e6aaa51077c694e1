// The engine's session: what one process holds while the engine is open. It
// opens on first use (the data folder locked against other processes, the
// settings and the journal loaded into the work list and the finished list,
// and what the last session or a crash left recovered) and closes with the
// last object (the journal written, the lists emptied, the lock released).
// While open it writes the journal after each change of the work list, and a
// checkpoint of the running transfers' progress at most every kWorkSaveMs.
//
// It has no lock of its own: every call is made under the engine's one lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download_engine/cookie_jar.h"
#include "download_engine/finished_list.h"
#include "download_engine/journal.h"
#include "download_engine/rate_limiter.h"
#include "download_engine/settings_store.h"
#include "download_engine/status.h"
#include "download_engine/task.h"
#include "download_engine/work_list.h"

namespace engine {

// How often at most the running transfers' progress goes to the journal.
constexpr uint64_t kWorkSaveMs = 500;

class EngineSession {
 public:
  // Finishes a task whose rename a crash interrupted (the journal said
  // "completing" and the file is there): moves it to the finished list.
  using FinishRecovered = std::function<void(Task*)>;

  EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;
  ~EngineSession();

  // Opens the session in that data folder (empty: it could not be made).
  // Fails without changing anything when the folder is locked by another
  // session, in this process or another.
  Status Open(const std::wstring& folder, const FinishRecovered& finish);
  bool IsOpen() const { return open_; }
  // Between BeginClose and Close: transfers are winding down, nothing new
  // starts and no event is posted.
  bool Closing() const { return closing_; }
  void BeginClose() { closing_ = true; }
  // Writes the work list as it stands, empties both lists and releases the
  // folder's lock.
  void Close();

  WorkList& Work() { return work_; }
  const WorkList& Work() const { return work_; }
  FinishedList& Finished() { return finished_; }
  SettingsStore& Store() { return settings_; }
  const Settings& Values() const { return settings_.Values(); }
  // Shared with the transfers, which may outlive the session.
  const std::shared_ptr<RateLimiter>& Limiter() const { return limiter_; }
  const std::shared_ptr<CookieJar>& Cookies() const { return cookies_; }
  // A task id never given before, journal and finished list included.
  uint64_t TakeId() { return nextId_++; }
  // True once per session: the first Download object applies AutoStart.
  bool TakeAutoStart();

  // The journal after a change of one task (placed: it was put at its
  // present place), after tasks were added, after a task left the list,
  // and of the whole list; the finished list after each change.
  void SaveTask(const Task& task, bool placed = false);
  void SaveAdded(const std::vector<const Task*>& tasks);
  void SaveRemoved(uint64_t id);
  void SaveWork();
  void SaveFinished();
  // A running transfer made progress worth a checkpoint; the checkpoint is
  // due when the last whole save is kWorkSaveMs old.
  void MarkProgress() { workDirty_ = true; }
  bool CheckpointDue(uint64_t nowMs) const;
  void CheckpointTaken(uint64_t nowMs);

 private:
  void Recover(const FinishRecovered& finish);
  Task CopyForJournal(const Task& task) const;

  bool open_ = false;
  bool closing_ = false;
  bool autoStartApplied_ = false;
  std::wstring folder_;
  HANDLE lockFile_ = INVALID_HANDLE_VALUE;
  SettingsStore settings_;
  std::unique_ptr<Journal> journal_;
  WorkList work_;
  FinishedList finished_;
  uint64_t nextId_ = 1;
  std::shared_ptr<RateLimiter> limiter_;
  std::shared_ptr<CookieJar> cookies_;
  bool workDirty_ = false;
  uint64_t lastWorkSaveMs_ = 0;
};

}  // namespace engine
