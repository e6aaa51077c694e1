#include "headless_host/kit/host_kit.h"

#include <cstring>

namespace {

HostKit* current = nullptr;

}  // namespace

HostKit* HostKit::Current() { return current; }

HostKit::HostKit() : pluginThread_(GetCurrentThreadId()) { current = this; }

// Objects still on the ledger are left as they are: their classes may live in
// a module that is gone by now. The host's own checks report them first.
HostKit::~HostKit() {
  if (current == this) current = nullptr;
}

bool HostKit::OnPluginThread(const char* function) {
  DWORD thread = GetCurrentThreadId();
  if (thread == pluginThread_) return true;
  Fault(std::string(function) + " called off the plug-in thread (thread " + std::to_string(thread) +
        "); refused");
  return false;
}

bool HostKit::LiveObject(const NPObject* object, const char* function) {
  if (object != nullptr && objects_.Live(object)) return true;
  Fault(std::string(function) + " on an object that is not live");
  return false;
}

bool HostKit::KnownIdentifier(NPIdentifier id, const char* function) {
  if (identifiers_.Known(id)) return true;
  Fault(std::string(function) + " with an identifier the host never gave");
  return false;
}

NPObject* HostKit::RetainObject(NPObject* object, const char* function) {
  if (LiveObject(object, function)) objects_.Retain(object);
  return object;
}

void HostKit::ReleaseObject(NPObject* object, const char* function) {
  if (!LiveObject(object, function)) return;
  if (objects_.ReleaseObject(object) == ObjectLedger::Release::NoReference)
    Fault(std::string(function) + " of an object without a reference");
}

char* HostKit::CopyToHostMemory(const std::string& text) {
  auto* copy = static_cast<char*>(memory_.Allocate(static_cast<uint32_t>(text.size() + 1)));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void HostKit::Called(const char*, std::vector<std::string>) {}

bool HostKit::MayAllocate(uint32_t) { return true; }

bool HostKit::MayCreateObject(NPP) { return true; }

bool HostKit::GivesIdentifier(const std::string&) { return true; }
