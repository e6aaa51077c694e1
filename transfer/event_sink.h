// The engine's event sink: a minimal IDispatch connected to the Download
// object's connection point. Every Invoke is one task event, whatever its
// dispatch identifier. Not reference counted: its instance deletes it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>

#include "transfer/halvo_plugin.h"

class PageMessageRelay;
struct TaskEvent;

class HalvoPlugin::CSink : public IDispatch {
 public:
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

  // After Unadvise: returns once no event is still being handled on an engine thread.
  void WaitForOtherThreads();

  HalvoPlugin* owner;

 private:
  void Handle(const TaskEvent& event);
  void Archive(const TaskEvent& event);

  std::shared_ptr<PageMessageRelay> relay_;
  DWORD pluginThread_;
  std::atomic<int> otherThreadEvents_{0};
};
