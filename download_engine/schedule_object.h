// "transfer.Schedule": the engine's start-up and shut-down.
//   StartupStep1 opens the engine (settings and journal loaded).
//   StartupStep2 counts this object as a user of the engine.
//   ShutdownStep ends that use; when the last user ends, running transfers
//   stop, their progress is saved, and the engine closes until next used.
#pragma once

#include "download_engine/com_support.h"
#include "engine/engine_interfaces.h"

namespace engine {

class ScheduleObject final : public ISchedule {
 public:
  ScheduleObject();
  ~ScheduleObject();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return life_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override;
  ENGINE_NO_TYPE_INFO()

  HRESULT STDMETHODCALLTYPE StartupStep1() override;
  HRESULT STDMETHODCALLTYPE StartupStep2() override;
  HRESULT STDMETHODCALLTYPE ShutdownStep() override;

 private:
  ObjectLife life_;
  ErrorInfoSupport errorInfo_;
  std::atomic<bool> started_{false};
};

}  // namespace engine
