// The Download object's connection point for the engine's event interface.
// It lives inside its Download object and shares its reference count; the
// sinks it is given are kept by the engine's event hub, which delivers every
// engine event to every connected sink of every Download object.
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace engine {

class ConnectionPoint final : public IConnectionPoint {
 public:
  explicit ConnectionPoint(IConnectionPointContainer* container) : container_(container) {}
  ~ConnectionPoint();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

 private:
  IConnectionPointContainer* container_;
};

// The container's enumeration of its one connection point.
HRESULT NewConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator);

}  // namespace engine
