#include "tests/test_engine/connection_point.h"

#include <olectl.h>

#include <atomic>

#include "engine/engine_interfaces.h"
#include "tests/test_engine/call_record.h"
#include "tests/test_engine/com_guard.h"

namespace {

// Cookies are unique in the process, so one from another object never matches.
std::atomic<DWORD> nextCookie{1};

constexpr wchar_t kName[] = L"ConnectionPoint";

}  // namespace

ConnectionPoint::ConnectionPoint(EngineObject* owner, IConnectionPointContainer* container)
    : owner_(owner), container_(container) {}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"QueryInterface");
    call.Guid(riid);
    if (object == nullptr) return call.End(E_POINTER);
    *object = nullptr;
    if (!call.Proceed(&riid)) return call.End();
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return call.End(E_NOINTERFACE);
    owner_->InternalAddRef();
    *object = static_cast<IConnectionPoint*>(this);
    return call.End(S_OK);
  });
}

ULONG ConnectionPoint::AddRef() {
  return ComGuard<ULONG>(0, [&] {
    CallRecord call(owner_, kName, L"AddRef");
    if (!call.Proceed()) return call.EndCount(0);
    return call.EndCount(owner_->CountedAddRef());
  });
}

ULONG ConnectionPoint::Release() {
  return ComGuard<ULONG>(0, [&] {
    CallRecord call(owner_, kName, L"Release");
    if (!call.Proceed()) return call.EndCount(0);
    return call.EndCount(owner_->CountedRelease());
  });
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"GetConnectionInterface");
    if (!call.Proceed()) return call.End();
    if (iid == nullptr) return call.End(E_POINTER);
    *iid = DIID_ITaskEvents;
    return call.End(S_OK);
  });
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"GetConnectionPointContainer");
    if (container == nullptr) return call.End(E_POINTER);
    *container = nullptr;
    if (!call.Proceed()) return call.End();
    owner_->InternalAddRef();
    *container = container_;
    return call.End(S_OK);
  });
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"Advise");
    call.Pointer(sink).OutNumber(cookie, false);
    if (cookie == nullptr) return call.End(E_POINTER);
    *cookie = 0;
    if (!call.Proceed()) return call.End();
    if (sink == nullptr) return call.End(E_POINTER);
    IDispatch* events = nullptr;
    if (sink->QueryInterface(DIID_ITaskEvents, reinterpret_cast<void**>(&events)) != S_OK || events == nullptr) {
      events = nullptr;
      if (sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events)) != S_OK || events == nullptr)
        return call.End(CONNECT_E_CANNOTCONNECT);
    }
    DWORD assigned = nextCookie.fetch_add(1);
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      sinks_.emplace_back(assigned, events);
    } catch (...) {
      events->Release();
      return call.End(E_OUTOFMEMORY);
    }
    *cookie = assigned;
    return call.End(S_OK);
  });
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"Unadvise");
    call.Unsigned(cookie);
    if (!call.Proceed()) return call.End();
    IDispatch* released = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first != cookie) continue;
        released = it->second;
        sinks_.erase(it);
        break;
      }
    }
    if (released == nullptr) return call.End(CONNECT_E_NOCONNECTION);
    released->Release();  // outside the lock: the sink may call back
    return call.End(S_OK);
  });
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  return ComGuard([&] {
    CallRecord call(owner_, kName, L"EnumConnections");
    if (connections != nullptr) *connections = nullptr;
    call.Proceed();
    return call.End(E_NOTIMPL);
  });
}

std::vector<IDispatch*> ConnectionPoint::TakeSinks() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<IDispatch*> taken;
  for (auto& entry : sinks_) {
    entry.second->AddRef();
    taken.push_back(entry.second);
  }
  return taken;
}

uint32_t ConnectionPoint::SinkCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(sinks_.size());
}

uint32_t ConnectionPoint::ReleaseAll() {
  std::vector<std::pair<DWORD, IDispatch*>> released;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released.swap(sinks_);
  }
  for (auto& entry : released) entry.second->Release();
  return static_cast<uint32_t>(released.size());
}
