// The engine's event sink: a minimal IDispatch connected to the Download
// object's connection point. Every Invoke is one task event, whatever its
// dispatch identifier. Reference counted as COM asks: the instance holds one
// reference, the engine one while connected and one while it calls, so an
// engine that calls a sink it took before the disconnect still reaches live
// memory; once detached, such a call touches nothing of the instance.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "transfer/halvo_plugin.h"

class PageMessageRelay;
struct TaskEvent;

class HalvoPlugin::CSink : public IDispatch {
 public:
  // Starts with the one reference of its creator.
  CSink(HalvoPlugin* owner, std::shared_ptr<PageMessageRelay> relay, DWORD pluginThread);
  virtual ~CSink();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // On the plug-in thread, after Unadvise: from now on events do nothing; returns
  // once every event already inside on an engine thread has left. (An event on
  // the plug-in thread itself is further up this thread's stack: it cannot be
  // waited for, and it reaches nothing of the instance after this returns.)
  void Detach();

 private:
  void Handle(const TaskEvent& event);
  void Archive(const TaskEvent& event);

  HalvoPlugin* owner_;
  std::shared_ptr<PageMessageRelay> relay_;
  DWORD pluginThread_;
  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  std::condition_variable idle_;
  bool detached_ = false;
  int otherThreadEvents_ = 0;
};
