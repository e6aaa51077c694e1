// "transfer.Download": the tasks, and the connection point of the engine's events.
#pragma once

#include <ocidl.h>

#include "download_engine/com_support.h"
#include "download_engine/connection_point.h"
#include "engine/engine_interfaces.h"

namespace engine {

class DownloadObject final : public IDownload, public IConnectionPointContainer {
 public:
  DownloadObject();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return life_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override;
  ENGINE_NO_TYPE_INFO()

  HRESULT STDMETHODCALLTYPE StartupStep1() override;
  HRESULT STDMETHODCALLTYPE CreateDownload(BSTR url, BSTR folder, BSTR fileName, BSTR referrer, long connections,
                                           long flags, BYTE* state) override;
  HRESULT STDMETHODCALLTYPE StopDownload(BSTR key) override;
  HRESULT STDMETHODCALLTYPE DeleteDownload(BSTR key, long flag) override;
  HRESULT STDMETHODCALLTYPE GetBlockStatusList(BSTR key, BSTR* text, long* count) override;
  HRESULT STDMETHODCALLTYPE GetResourceSize(BSTR key, long* size) override;
  HRESULT STDMETHODCALLTYPE Unused13() override;
  HRESULT STDMETHODCALLTYPE SetCookie(BSTR cookie, long flag) override;
  HRESULT STDMETHODCALLTYPE ClearCookie() override;
  HRESULT STDMETHODCALLTYPE GetTotalDownloadSpeed(long* speed) override;
  HRESULT STDMETHODCALLTYPE GetDownloadingCount(long* count) override;
  HRESULT STDMETHODCALLTYPE StartupStep2() override;
  HRESULT STDMETHODCALLTYPE Unused19() override;
  HRESULT STDMETHODCALLTYPE Unused20() override;
  HRESULT STDMETHODCALLTYPE CancelDownload(BSTR key) override;
  HRESULT STDMETHODCALLTYPE ImportTask(BSTR task) override;
  HRESULT STDMETHODCALLTYPE Move(BSTR key, BYTE position) override;
  HRESULT STDMETHODCALLTYPE Unused24() override;
  HRESULT STDMETHODCALLTYPE ArchiveTask(BYTE connections, BSTR fileName, LONGLONG size, BSTR path, BSTR finalUrl,
                                        BSTR contentType, BSTR key, BSTR url, BSTR created, BSTR finished,
                                        ULONG averageSpeed, BYTE complete, long reserved) override;
  HRESULT STDMETHODCALLTYPE ListWorkTasks(VARIANT* keys) override;
  HRESULT STDMETHODCALLTYPE QueryTaskInfo(BSTR key, BSTR* url, BSTR* folder, BSTR* fileName, BYTE* state,
                                          LONGLONG* size, LONGLONG* done, ULONG* speed, BSTR* message) override;
  HRESULT STDMETHODCALLTYPE ListFinishedTasks(VARIANT* texts) override;
  HRESULT STDMETHODCALLTYPE DeleteDownload2(BSTR key, BSTR path, long flag) override;

  // IConnectionPointContainer.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 private:
  ObjectLife life_;
  ErrorInfoSupport errorInfo_;
  ConnectionPoint point_;
};

}  // namespace engine
