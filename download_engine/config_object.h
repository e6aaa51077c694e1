// "transfer.Config": the engine's settings, each kept in the settings file.
#pragma once

#include "download_engine/com_support.h"
#include "engine/engine_interfaces.h"

namespace engine {

class ConfigObject final : public IConfig {
 public:
  ConfigObject();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return life_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override;
  ENGINE_NO_TYPE_INFO()

  HRESULT STDMETHODCALLTYPE SetProxy(BSTR host, long port, BSTR user, BSTR password, BSTR bypass, BSTR kind) override;
  HRESULT STDMETHODCALLTYPE Unused8() override;
  HRESULT STDMETHODCALLTYPE SetUPnP(long flag) override;
  HRESULT STDMETHODCALLTYPE GetUPnP(long* flag) override;
  HRESULT STDMETHODCALLTYPE SetLimitSpeed(long download, long upload) override;
  HRESULT STDMETHODCALLTYPE GetLimitSpeed(BYTE which, long* speed) override;
  HRESULT STDMETHODCALLTYPE SetDiskCache(long size) override;
  HRESULT STDMETHODCALLTYPE GetDiskCache(long* size) override;
  HRESULT STDMETHODCALLTYPE SetMaxDownloadCount(long count) override;
  HRESULT STDMETHODCALLTYPE GetMaxDownloadCount(long* count) override;
  HRESULT STDMETHODCALLTYPE SetAutoStart(long flag) override;
  HRESULT STDMETHODCALLTYPE GetAutoStart(long* flag) override;
  HRESULT STDMETHODCALLTYPE SetUDPPort(long port) override;
  HRESULT STDMETHODCALLTYPE GetUDPPort(long* port) override;
  HRESULT STDMETHODCALLTYPE SetDownloadSingleThread(long flag) override;
  HRESULT STDMETHODCALLTYPE GetDownloadSingleThread(long* flag) override;
  HRESULT STDMETHODCALLTYPE GetPeerID(BSTR* peerId) override;
  HRESULT STDMETHODCALLTYPE GetIP(BSTR* address) override;
  HRESULT STDMETHODCALLTYPE SetClientVersion(BSTR version) override;

 private:
  ObjectLife life_;
  ErrorInfoSupport errorInfo_;
};

}  // namespace engine
