// What every NPAPI host here keeps the same way: interned identifiers, the
// ledgers of host memory and NPObjects, the plug-in thread and the rules a
// browser holds a module to. A host derives from it and says only its policy:
// where a fault goes, whether calls are recorded, which requests it refuses.
// Host functions are plain C callbacks, so the one host a module's table
// belongs to is found as Current().
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "headless_host/kit/identifiers.h"
#include "headless_host/kit/memory_ledger.h"
#include "headless_host/kit/object_ledger.h"
#include "npapi/npruntime.h"

class HostKit {
 public:
  // The host made last, until it goes; null when there is none.
  static HostKit* Current();

  HostKit(const HostKit&) = delete;
  HostKit& operator=(const HostKit&) = delete;

  IdentifierTable& Identifiers() { return identifiers_; }
  const IdentifierTable& Identifiers() const { return identifiers_; }
  MemoryLedger& Memory() { return memory_; }
  const MemoryLedger& Memory() const { return memory_; }
  ObjectLedger& Objects() { return objects_; }
  const ObjectLedger& Objects() const { return objects_; }

  // The thread that made the host, unless the host names another.
  DWORD PluginThread() const { return pluginThread_; }
  void SetPluginThread(DWORD thread) { pluginThread_ = thread; }
  // True on the plug-in thread; from any other thread a fault, and the
  // caller refuses the call: the module's objects are not the host's to touch there.
  bool OnPluginThread(const char* function);
  // How every host function starts: recorded when the host records (the
  // arguments are put into words only then), refused off the plug-in thread.
  template <typename MakeArgs>
  bool Enter(const char* function, MakeArgs makeArgs) {
    if (Records()) Called(function, makeArgs());
    return OnPluginThread(function);
  }

  // The checks of the host functions, each a fault naming the function when it fails.
  bool LiveObject(const NPObject* object, const char* function);
  bool KnownIdentifier(NPIdentifier id, const char* function);
  // A reference more on a live object; the object is answered either way.
  NPObject* RetainObject(NPObject* object, const char* function);
  void ReleaseObject(NPObject* object, const char* function);
  // A copy of the text in host memory, as every string the host hands out; null without memory.
  char* CopyToHostMemory(const std::string& text);

  // ---- policy ----
  virtual void Fault(const std::string& text) = 0;
  // A host that records says so; Called then hears every host function
  // called, before any check, with its arguments as text.
  virtual bool Records() const { return false; }
  virtual void Called(const char* function, std::vector<std::string> args);
  // Refusals a host may make on top of the rules (a test host playing a
  // failing browser, a host that knows its instances).
  virtual bool MayAllocate(uint32_t size);
  virtual bool MayCreateObject(NPP npp);
  virtual bool GivesIdentifier(const std::string& name);

 protected:
  HostKit();
  virtual ~HostKit();

 private:
  DWORD pluginThread_;
  IdentifierTable identifiers_;
  MemoryLedger memory_;
  ObjectLedger objects_;
};
