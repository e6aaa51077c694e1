// The Download object's one connection point, for the event interface. It
// is part of its Download object: its references are the Download's, its
// calls are logged as "ConnectionPoint". Advise keeps the sink's event
// interface (asked for with QueryInterface, which counts a reference) until
// Unadvise or the Download's end releases it.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <mutex>
#include <utility>
#include <vector>

#include "tests/test_engine/engine_object.h"

// What the event firing needs of a Download object.
class EventSource {
 public:
  // The sinks advised now, each with a reference the caller releases.
  virtual std::vector<IDispatch*> TakeSinks() = 0;

 protected:
  ~EventSource() = default;
};

class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(EngineObject* owner, IConnectionPointContainer* container);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  std::vector<IDispatch*> TakeSinks();
  uint32_t SinkCount() const;
  // The owner's end: returns how many sinks were still advised, and releases them.
  uint32_t ReleaseAll();

 private:
  EngineObject* owner_;
  IConnectionPointContainer* container_;
  mutable std::mutex mutex_;
  std::vector<std::pair<DWORD, IDispatch*>> sinks_;
};
