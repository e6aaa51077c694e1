// The browser, played by the tests: a host function table whose every entry
// records the call (function, arguments, thread) and keeps ledgers of host
// memory and NPObject references (identifiers and host memory as the headless
// host keeps them: headless_host's host kit). A test fails when a ledger does not balance
// or a host function was called off the plug-in thread.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "headless_host/identifiers.h"
#include "headless_host/memory_ledger.h"
#include "npapi/npfunctions.h"

struct HostCall {
  std::string function;
  std::vector<std::string> args;
  DWORD thread = 0;
};

class TestHost {
 public:
  // A page function: what NPN_InvokeDefault on it does.
  using PageFunction = std::function<bool(const NPVariant* args, uint32_t argCount, NPVariant* result)>;

  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // The one host whose table the module holds (host entries are plain C callbacks).
  static TestHost* Current();

  NPNetscapeFuncs* Table() { return &funcs_; }

  // Calls recorded so far, in order; optionally only one function's.
  std::vector<HostCall> Calls(const std::string& function = std::string()) const;
  void ClearCalls();
  std::vector<std::string> Faults() const;

  // Ledgers.
  std::size_t LiveAllocations() const;
  std::size_t LiveObjects() const;
  bool IsLive(NPObject* object) const;
  uint32_t ReferenceCount(NPObject* object) const;

  // Identifiers, interned as a browser interns them.
  NPIdentifier StringId(const std::string& name);
  NPIdentifier IntId(int32_t value);

  // Host memory, as a browser hands it to script results and callback values.
  char* HostString(const std::string& text);

  // A callable page object; the host owns one reference until ReleaseObject.
  NPObject* CreatePageFunction(PageFunction body);
  // A plain page object that is not callable.
  NPObject* CreatePlainObject();

  // Script-side operations on a plug-in object, as a browser performs them.
  bool Invoke(NPObject* object, const std::string& method, const std::vector<NPVariant>& args, NPVariant* result);
  void ReleaseObject(NPObject* object);
  // A reference taken by the host itself (not recorded as a plug-in's call).
  NPObject* Retain(NPObject* object);
  void ReleaseVariantValue(NPVariant* value);
  // What one browser does at NPP_Destroy: invalidate and free, whatever the count.
  void InvalidateAndDeallocate(NPObject* object);

  // Behaviour switches.
  PageFunction PageFunctionFor(NPObject* object) const;

  bool failMemAlloc = false;
  bool failCreateObject = false;
  DWORD pluginThread;

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
  NPObject* Window() const;
  NPObject* Location() const;
  // The page goes: its own references to its objects are released.
  void ClosePage();

  // Entry points (public so the table can name them).
  static NPError GetURL(NPP instance, const char* url, const char* window);
  static void* MemAlloc(uint32_t size);
  static void MemFree(void* ptr);
  static NPError GetValue(NPP instance, NPNVariable variable, void* value);
  static NPError SetValue(NPP instance, NPPVariable variable, void* value);
  static NPIdentifier GetStringIdentifier(const NPUTF8* name);
  static NPIdentifier GetIntIdentifier(int32_t intid);
  static bool IdentifierIsString(NPIdentifier identifier);
  static NPUTF8* UTF8FromIdentifier(NPIdentifier identifier);
  static int32_t IntFromIdentifier(NPIdentifier identifier);
  static NPObject* CreateObject(NPP npp, NPClass* aClass);
  static NPObject* RetainObject(NPObject* obj);
  static void ReleaseObjectEntry(NPObject* obj);
  static bool InvokeDefault(NPP npp, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result);
  static void ReleaseVariantValueEntry(NPVariant* variant);
  static void SetException(NPObject* obj, const NPUTF8* message);
  static bool GetProperty(NPP npp, NPObject* obj, NPIdentifier propertyName, NPVariant* result);
  // The getProperty of the page's window and location objects.
  static bool WindowGetProperty(NPObject* obj, NPIdentifier name, NPVariant* result);
  static bool LocationGetProperty(NPObject* obj, NPIdentifier name, NPVariant* result);

 private:
  void Record(const char* function, std::vector<std::string> args);
  NPObject* NewPageObject(NPClass* aClass);
  void EnsurePage();
  // A property's answer as the page settings say; `expected` for PageAnswer::Expected.
  bool AnswerProperty(PageAnswer answer, const std::function<void(NPVariant*)>& expected, NPVariant* result);
  void Fault(const std::string& text);
  // The name of a string identifier, "" for any other.
  std::string NameOf(NPIdentifier id) const;
  void ReleaseLocked(NPObject* object, std::unique_lock<std::recursive_mutex>& lock);
  static std::string Describe(const NPVariant& value);

  NPNetscapeFuncs funcs_;
  mutable std::recursive_mutex mutex_;
  std::vector<HostCall> calls_;
  std::vector<std::string> faults_;
  MemoryLedger memory_;
  std::map<NPObject*, uint32_t> objects_;  // live object -> host-side count mirror
  std::map<NPObject*, PageFunction> pageFunctions_;
  IdentifierTable identifiers_;
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
