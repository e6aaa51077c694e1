// The browser, played by the tests: a host whose every function records the
// call (function, arguments, thread) and keeps its faults for the test to see.
// Identifiers, the ledgers of host memory and NPObjects, the plug-in thread
// check and most host functions are the host kit's (headless_host/kit), as in
// the headless host; this host adds the page, its failure switches and the
// script-side operations a test performs. A test fails when a ledger does not
// balance or a host function was called off the plug-in thread.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "headless_host/kit/host_kit.h"
#include "npapi/npfunctions.h"

struct HostCall {
  std::string function;
  std::vector<std::string> args;
  DWORD thread = 0;
};

class TestHost : public HostKit {
 public:
  // A page function: what NPN_InvokeDefault on it does.
  using PageFunction = std::function<bool(const NPVariant* args, uint32_t argCount, NPVariant* result)>;

  TestHost();
  ~TestHost() override;

  // The one host whose table the module holds (host entries are plain C callbacks).
  static TestHost* Current();

  NPNetscapeFuncs* Table() { return &funcs_; }

  // Calls recorded so far, in order; optionally only one function's.
  std::vector<HostCall> Calls(const std::string& function = std::string()) const;
  void ClearCalls();
  std::vector<std::string> Faults() const;

  // Ledgers.
  std::size_t LiveAllocations() const { return Memory().Blocks(); }
  std::size_t LiveObjects() const { return Objects().Count(); }
  bool IsLive(NPObject* object) const { return Objects().Live(object); }
  uint32_t ReferenceCount(NPObject* object) const { return Objects().ReferenceCount(object); }

  // Identifiers, interned as a browser interns them.
  NPIdentifier StringId(const std::string& name) { return Identifiers().String(name); }
  NPIdentifier IntId(int32_t value) { return Identifiers().Int(value); }

  // Host memory, as a browser hands it to script results and callback values.
  char* HostString(const std::string& text) { return CopyToHostMemory(text); }

  // A callable page object; the host owns one reference until ReleaseObject.
  NPObject* CreatePageFunction(PageFunction body);
  // A plain page object that is not callable.
  NPObject* CreatePlainObject();

  // Script-side operations on a plug-in object, as a browser performs them.
  bool Invoke(NPObject* object, const std::string& method, const std::vector<NPVariant>& args, NPVariant* result);
  void ReleaseObject(NPObject* object) { HostKit::ReleaseObject(object, "the host's release"); }
  // A reference taken by the host itself (not recorded as a plug-in's call).
  NPObject* Retain(NPObject* object) { return RetainObject(object, "the host's retain"); }
  // As NPN_ReleaseVariantValue releases it (a string through NPN_MemFree), not recorded itself.
  void ReleaseVariantValue(NPVariant* value);
  // What one browser does at NPP_Destroy: invalidate and free, whatever the count.
  void InvalidateAndDeallocate(NPObject* object);

  // Behaviour switches.
  bool failMemAlloc = false;
  bool failCreateObject = false;

  // The page that holds the elements, as a browser offers it: NPN_GetValue
  // (NPNVWindowNPObject) hands out a retained window object, whose "location"
  // property is a retained location object, whose "href" is pageAddress in
  // host memory. The page holds one reference to each from the first request
  // until ClosePage. By default every element sits on an allowed page.
  enum class PageAnswer { Expected, Void, Null, Number, String, Object };
  enum class PageFailure {
    None,
    WindowError,         // NPN_GetValue answers an error
    WindowNull,          // NPN_GetValue answers success and no object
    LocationIdentifier,  // NPN_GetStringIdentifier("location") answers null
    HrefIdentifier,
    LocationProperty,    // NPN_GetProperty of "location" fails
    HrefProperty,
  };
  std::string pageAddress = "http://127.0.0.1/test.html";
  PageAnswer locationAnswer = PageAnswer::Expected;  // Expected: the location object
  PageAnswer hrefAnswer = PageAnswer::Expected;      // Expected: pageAddress as a string
  PageFailure pageFailure = PageFailure::None;
  // The page's objects (null before the first request and after ClosePage).
  NPObject* Window() const { return window_; }
  NPObject* Location() const { return location_; }
  // The page goes: its own references to its objects are released.
  void ClosePage();

  // The host functions this host answers itself (the others are the kit's).
  static NPError GetURL(NPP instance, const char* url, const char* window);
  static NPError GetValue(NPP instance, NPNVariable variable, void* value);
  static NPError SetValue(NPP instance, NPPVariable variable, void* value);
  static void SetException(NPObject* obj, const NPUTF8* message);
  // The getProperty of the page's window and location objects.
  static bool WindowGetProperty(NPObject* obj, NPIdentifier name, NPVariant* result);
  static bool LocationGetProperty(NPObject* obj, NPIdentifier name, NPVariant* result);

  // HostKit: what this host records and refuses.
  void Fault(const std::string& text) override;
  bool Records() const override { return true; }
  void Called(const char* function, std::vector<std::string> args) override;
  bool MayAllocate(uint32_t size) override;
  bool MayCreateObject(NPP npp) override;
  bool GivesIdentifier(const std::string& name) override;

 private:
  void EnsurePage();
  // A property's answer as the page settings say; `expected` for PageAnswer::Expected.
  bool AnswerProperty(PageAnswer answer, const std::function<void(NPVariant*)>& expected, NPVariant* result);
  // The name of a string identifier, "" for any other.
  std::string NameOf(NPIdentifier id) const;

  NPNetscapeFuncs funcs_;
  // Calls and faults may come from any thread; everything else is the plug-in thread's.
  mutable std::mutex mutex_;
  std::vector<HostCall> calls_;
  std::vector<std::string> faults_;
  NPObject* window_ = nullptr;
  NPObject* location_ = nullptr;
};

// Variant helpers for building script arguments.
NPVariant StringArg(const char* text);
NPVariant StringArg(const char* bytes, uint32_t length);
NPVariant NumberArg(double value);
NPVariant Int32Arg(int32_t value);
NPVariant BoolArg(bool value);
NPVariant ObjectArg(NPObject* object);
