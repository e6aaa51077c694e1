// The headless browser: loads the plug-in modules, keeps one instance per
// page element, answers the requests of its line protocol on the plug-in
// thread (the thread that runs Run, which also pumps that thread's window
// messages between requests), and keeps the NPAPI rules a browser keeps,
// reporting every breach as a fault line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "headless_host/element.h"
#include "headless_host/kit/host_kit.h"
#include "headless_host/line_io.h"
#include "headless_host/page_object.h"
#include "headless_host/plugin_library.h"
#include "headless_host/protocol.h"
#include "headless_host/window_object.h"

class HeadlessHost : public HostKit, public PageObjectListener {
 public:
  static HeadlessHost& Get();

  // Loads the modules and serves requests until "quit" or the end of input.
  int Run(const std::vector<std::wstring>& modules);

  // HostKit: faults are fault lines; objects are made only for live instances.
  void Fault(const std::string& text) override;
  bool MayCreateObject(NPP npp) override;

  // For the host function table.
  void Unsupported(const char* function);
  void Note(const std::string& text);
  Element* ElementOf(NPP npp);
  HWND PageWindow() const { return pageWindow_; }
  // The element's page window object (made on first use), without a reference of the caller's.
  NPObject* WindowObjectOf(Element* element);
  NPError GetURL(Element* element, const char* url, const char* target);
  void Status(Element* element, const char* message);
  void SetException(const char* message);
  // Any thread: the function runs later on the plug-in thread, unless the instance is gone by then.
  void CallOnPluginThread(NPP npp, void (*function)(void*), void* data);

  // PageObjectListener.
  bool PageFunctionCalled(PageObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  void PageObjectReleased(PageObject* object) override;

 private:
  HeadlessHost();

  bool Handle(const std::string& line);  // false after "quit"
  void New(const std::string& seq, const std::vector<std::string>& fields);
  void Has(const std::string& seq, const std::vector<std::string>& fields);
  void GetProperty(const std::string& seq, const std::vector<std::string>& fields);
  void Call(const std::string& seq, const std::vector<std::string>& fields);
  void DestroyElement(const std::string& seq, const std::vector<std::string>& fields);
  void PageAnswered(const std::string& command, const std::string& seq, const std::vector<std::string>& fields);
  // Instances asked to go while a call into them was on the stack go now that none is.
  void DestroyIdleLeavers();
  std::string LedgerFields() const;

  Element* FindElement(const std::string& field, const std::string& seq);
  // The element and name of "<verb> <seq> <element> '<name>"; null once the error is answered.
  Element* NamedRequest(const std::string& seq, const std::vector<std::string>& fields, const char* verb,
                        std::string* name);
  NPError Destroy(Element* element, std::size_t* forced);
  // The host's references to the instance's objects go, then whatever a module kept; how many were kept.
  std::size_t ReleaseInstanceObjects(Element* element);
  void ShutDown();

  // Script values in and out of the protocol.
  bool ToVariant(const protocol::Value& value, NPP owner, NPVariant* variant, std::vector<std::string>& texts,
                 std::vector<NPObject*>& held);
  // A page function's result as the module's own: strings in host memory, objects with a reference.
  bool ToResult(const protocol::Value& value, NPP owner, NPVariant* result);
  PageObject* PageObjectFor(const protocol::Value& value, NPP owner);
  protocol::Value FromVariant(const NPVariant& variant);
  // Drops what the host owned in a result the module gave it, as NPN_ReleaseVariantValue does.
  void ReleaseResult(NPVariant* variant);

  static LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void PumpMessages();

  NPNetscapeFuncs table_{};
  std::vector<std::unique_ptr<PluginLibrary>> libraries_;
  std::map<uint64_t, std::unique_ptr<Element>> elements_;
  std::map<NPP, Element*> byNpp_;
  std::map<uint64_t, PageObject*> pageObjects_;
  LineInput input_;
  HWND pageWindow_ = nullptr;
  HWND messageWindow_ = nullptr;
  std::string currentCall_ = "0";  // the sequence number of the request being served
  Element* currentElement_ = nullptr;  // the instance that request calls into, if any
  // A page function the module called during a request, waiting for the page's answer.
  struct PageWait {
    std::string seq;
    bool answered = false;
    bool returned = false;
    protocol::Value value;
  };
  std::vector<PageWait*> pageWaits_;  // innermost last
  bool exceptionSet_ = false;
  std::string exception_;
  bool shutDown_ = false;
};
