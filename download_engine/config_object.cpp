#include "download_engine/config_object.h"

#include "download_engine/text.h"

namespace engine {

namespace {

HRESULT Done(const Status& status) { return Report(status, IID_IConfig); }

HRESULT GetFlag(Status (Engine::*getter)(bool*), long* flag) {
  if (flag == nullptr) return ReportPointer(IID_IConfig);
  bool on = false;
  Status status = (Engine::Instance().*getter)(&on);
  if (!status.Failed()) *flag = on ? 1 : 0;
  return Done(status);
}

HRESULT GetNumber(Status (Engine::*getter)(long*), long* value) {
  if (value == nullptr) return ReportPointer(IID_IConfig);
  return Done((Engine::Instance().*getter)(value));
}

HRESULT GetText(Status (Engine::*getter)(std::wstring*), BSTR* value) {
  if (value == nullptr) return ReportPointer(IID_IConfig);
  *value = nullptr;
  std::wstring text;
  Status status = (Engine::Instance().*getter)(&text);
  if (status.Failed()) return Done(status);
  *value = ToBstr(text);
  return *value ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ConfigObject::ConfigObject() : errorInfo_(this, IID_IConfig) {}

HRESULT ConfigObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IConfig)) {
    *object = static_cast<IConfig*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *object = &errorInfo_;
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ConfigObject::Release() {
  ULONG count = life_.Release();
  if (count == 0) delete this;
  return count;
}

HRESULT ConfigObject::SetProxy(BSTR host, long port, BSTR user, BSTR password, BSTR bypass, BSTR kind) {
  return Guard(IID_IConfig, [&]() -> HRESULT {
    ProxySettings proxy;
    proxy.host = FromBstr(host);
    proxy.port = port;
    proxy.user = FromBstr(user);
    proxy.password = FromBstr(password);
    proxy.bypass = FromBstr(bypass);
    proxy.kind = FromBstr(kind);
    return Done(Engine::Instance().SetProxy(proxy));
  });
}

HRESULT ConfigObject::Unused8() { return E_NOTIMPL; }
HRESULT ConfigObject::SetUPnP(long flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return Done(Engine::Instance().SetUpnp(flag != 0)); });
}
HRESULT ConfigObject::GetUPnP(long* flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetFlag(&Engine::GetUpnp, flag); });
}
HRESULT ConfigObject::SetLimitSpeed(long download, long upload) {
  return Guard(IID_IConfig, [&]() -> HRESULT {
    return Done(Engine::Instance().SetLimitSpeed(download, upload));
  });
}
HRESULT ConfigObject::GetLimitSpeed(BYTE which, long* speed) {
  return Guard(IID_IConfig, [&]() -> HRESULT {
    if (speed == nullptr) return ReportPointer(IID_IConfig);
    return Done(Engine::Instance().GetLimitSpeed(which, speed));
  });
}
HRESULT ConfigObject::SetDiskCache(long size) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return Done(Engine::Instance().SetDiskCache(size)); });
}
HRESULT ConfigObject::GetDiskCache(long* size) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetNumber(&Engine::GetDiskCache, size); });
}
HRESULT ConfigObject::SetMaxDownloadCount(long count) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return Done(Engine::Instance().SetMaxDownloadCount(count)); });
}
HRESULT ConfigObject::GetMaxDownloadCount(long* count) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetNumber(&Engine::GetMaxDownloadCount, count); });
}
HRESULT ConfigObject::SetAutoStart(long flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return Done(Engine::Instance().SetAutoStart(flag != 0)); });
}
HRESULT ConfigObject::GetAutoStart(long* flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetFlag(&Engine::GetAutoStart, flag); });
}
HRESULT ConfigObject::SetUDPPort(long port) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return Done(Engine::Instance().SetUdpPort(port)); });
}
HRESULT ConfigObject::GetUDPPort(long* port) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetNumber(&Engine::GetUdpPort, port); });
}
HRESULT ConfigObject::SetDownloadSingleThread(long flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT {
    return Done(Engine::Instance().SetSingleConnection(flag != 0));
  });
}
HRESULT ConfigObject::GetDownloadSingleThread(long* flag) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetFlag(&Engine::GetSingleConnection, flag); });
}
HRESULT ConfigObject::GetPeerID(BSTR* peerId) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetText(&Engine::GetPeerId, peerId); });
}
HRESULT ConfigObject::GetIP(BSTR* address) {
  return Guard(IID_IConfig, [&]() -> HRESULT { return GetText(&Engine::GetAddress, address); });
}
HRESULT ConfigObject::SetClientVersion(BSTR version) {
  return Guard(IID_IConfig, [&]() -> HRESULT {
    return Done(Engine::Instance().SetClientVersion(FromBstr(version)));
  });
}

}  // namespace engine
