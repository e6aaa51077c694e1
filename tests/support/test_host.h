// The browser, played by the tests: a host function table whose every entry
// records the call (function, arguments, thread) and keeps ledgers of host
// memory and NPObject references. A test fails when a ledger does not balance
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
  void ReleaseVariantValue(NPVariant* value);
  // What one browser does at NPP_Destroy: invalidate and free, whatever the count.
  void InvalidateAndDeallocate(NPObject* object);

  // Behaviour switches.
  PageFunction PageFunctionFor(NPObject* object) const;

  bool failMemAlloc = false;
  bool failCreateObject = false;
  DWORD pluginThread;

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

 private:
  struct Identifier {
    bool isString;
    std::string text;
    int32_t number;
  };

  void Record(const char* function, std::vector<std::string> args);
  void Fault(const std::string& text);
  void ReleaseLocked(NPObject* object, std::unique_lock<std::recursive_mutex>& lock);
  static std::string Describe(const NPVariant& value);

  NPNetscapeFuncs funcs_;
  mutable std::recursive_mutex mutex_;
  std::vector<HostCall> calls_;
  std::vector<std::string> faults_;
  std::map<void*, uint32_t> memory_;
  std::map<NPObject*, uint32_t> objects_;  // live object -> host-side count mirror
  std::map<NPObject*, PageFunction> pageFunctions_;
  std::map<std::string, std::unique_ptr<Identifier>> stringIds_;
  std::map<int32_t, std::unique_ptr<Identifier>> intIds_;
};

// Variant helpers for building script arguments.
NPVariant StringArg(const char* text);
NPVariant StringArg(const char* bytes, uint32_t length);
NPVariant NumberArg(double value);
NPVariant Int32Arg(int32_t value);
NPVariant BoolArg(bool value);
NPVariant ObjectArg(NPObject* object);
NPVariant VoidArg();
NPVariant NullArg();
