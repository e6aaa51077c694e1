#include "download_engine/connection_point.h"

#include <olectl.h>

#include <atomic>

#include "download_engine/com_support.h"
#include "download_engine/engine.h"
#include "engine/engine_interfaces.h"

namespace engine {

ConnectionPoint::~ConnectionPoint() { Engine::Instance().Events().DropOwner(this); }

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID_ITaskEvents;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return Guard(IID_IConnectionPoint, [&] { return Engine::Instance().Events().Advise(this, sink, cookie); });
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  return Guard(IID_IConnectionPoint, [&] { return Engine::Instance().Events().Unadvise(this, cookie); });
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

namespace {

class PointEnumerator final : public IEnumConnectionPoints {
 public:
  PointEnumerator(IConnectionPoint* point, ULONG position) : point_(point), position_(position) { point_->AddRef(); }
  ~PointEnumerator() { point_->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumConnectionPoints)) {
      *object = static_cast<IEnumConnectionPoints*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = static_cast<ULONG>(--count_);
    if (count == 0) delete this;
    return count;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (wanted > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    if (wanted > 0 && position_ == 0) {
      points[0] = point_;
      point_->AddRef();
      given = 1;
      position_ = 1;
    }
    if (fetched) *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    ULONG left = 1 - position_;
    position_ = count >= left ? 1 : position_ + count;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow) PointEnumerator(point_, position_);
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::atomic<long> count_{1};
  IConnectionPoint* point_;
  ULONG position_;
};

}  // namespace

HRESULT NewConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = new (std::nothrow) PointEnumerator(point, 0);
  return *enumerator ? S_OK : E_OUTOFMEMORY;
}

}  // namespace engine
