// A sink for the engine's events that records each one as it arrives: its 24
// values by meaning, whether the arguments had the expected count and
// VARTYPEs, and the thread that delivered it. Tests wait on it for the events
// they expect. It is a real COM object with a reference count; with an
// archive target it also does what a page's sink does for kind 5: hands the
// event's values back to the engine's ArchiveTask.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_interfaces.h"
#include "engine/task_event.h"

// One event as it arrived: its values (texts whole, as the BSTRs hold them),
// and when and where.
struct EngineEvent : TaskEvent {
  DWORD thread = 0;
  uint64_t atMs = 0;  // GetTickCount64 when it arrived
};

class EventCollector final : public IDispatch {
 public:
  EventCollector();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) override;

  // Kind-5 events that mark a completed file are archived through this object.
  void ArchiveThrough(IDownload* download);

  std::vector<EngineEvent> Events() const;
  std::vector<EngineEvent> EventsFor(const std::wstring& key) const;
  // Problems with the form of events (argument count, VARTYPEs, null sink data).
  std::vector<std::string> Faults() const;
  std::vector<HRESULT> ArchiveResults() const;
  long Refs() const { return refs_.load(); }

  // Waits until the predicate holds (checked on every event and every 50 ms);
  // false on time-out. It runs with the collector locked: it must not wait for events.
  bool WaitFor(const std::function<bool(const std::vector<EngineEvent>&)>& done, DWORD timeoutMs) const;
  // The first event for the key with that state, after waiting for it; the
  // returned event has an empty key on time-out.
  EngineEvent WaitForState(const std::wstring& key, uint8_t state, DWORD timeoutMs) const;
  // The event that takes the key off the work list (kind 5).
  EngineEvent WaitForFinish(const std::wstring& key, DWORD timeoutMs) const;

 private:
  std::atomic<long> refs_{1};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<EngineEvent> events_;
  std::vector<std::string> faults_;
  std::vector<HRESULT> archiveResults_;
  IDownload* archive_ = nullptr;
};

// The text of a state number, for failure messages.
std::string StateText(uint8_t state);
