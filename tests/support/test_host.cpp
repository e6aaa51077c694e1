#include "tests/support/test_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

TestHost* currentHost = nullptr;

std::string Pointer(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string("(null)"); }

bool PageFunctionInvokeDefault(NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result);

// Objects the page owns: deallocated by the host with free().
NPObject* AllocatePageObject(NPP, NPClass*) { return static_cast<NPObject*>(std::calloc(1, sizeof(NPObject))); }
void DeallocatePageObject(NPObject* obj) { std::free(obj); }

NPClass pageFunctionClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr,
                             nullptr, PageFunctionInvokeDefault, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr};
NPClass plainObjectClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
NPClass windowClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr, nullptr,
                       nullptr, nullptr, TestHost::WindowGetProperty, nullptr, nullptr, nullptr, nullptr};
NPClass locationClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr,
                         nullptr, nullptr, nullptr, TestHost::LocationGetProperty, nullptr, nullptr, nullptr, nullptr};

}  // namespace

TestHost::TestHost() : pluginThread(GetCurrentThreadId()) {
  std::memset(&funcs_, 0, sizeof funcs_);
  funcs_.size = sizeof funcs_;
  funcs_.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  funcs_.geturl = GetURL;
  funcs_.memalloc = MemAlloc;
  funcs_.memfree = MemFree;
  funcs_.getvalue = GetValue;
  funcs_.setvalue = SetValue;
  funcs_.getstringidentifier = GetStringIdentifier;
  funcs_.getintidentifier = GetIntIdentifier;
  funcs_.identifierisstring = IdentifierIsString;
  funcs_.utf8fromidentifier = UTF8FromIdentifier;
  funcs_.intfromidentifier = IntFromIdentifier;
  funcs_.createobject = CreateObject;
  funcs_.retainobject = RetainObject;
  funcs_.releaseobject = ReleaseObjectEntry;
  funcs_.invokeDefault = InvokeDefault;
  funcs_.releasevariantvalue = ReleaseVariantValueEntry;
  funcs_.setexception = SetException;
  funcs_.getproperty = GetProperty;
  currentHost = this;
}

TestHost::~TestHost() {
  ClosePage();
  if (currentHost == this) currentHost = nullptr;
}

TestHost* TestHost::Current() { return currentHost; }

std::vector<HostCall> TestHost::Calls(const std::string& function) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (function.empty()) return calls_;
  std::vector<HostCall> matching;
  for (const auto& call : calls_)
    if (call.function == function) matching.push_back(call);
  return matching;
}

void TestHost::ClearCalls() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  calls_.clear();
}

std::vector<std::string> TestHost::Faults() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return faults_;
}

std::size_t TestHost::LiveAllocations() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return memory_.Blocks();
}

std::size_t TestHost::LiveObjects() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return objects_.size();
}

bool TestHost::IsLive(NPObject* object) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return objects_.count(object) != 0;
}

uint32_t TestHost::ReferenceCount(NPObject* object) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return objects_.count(object) != 0 ? object->referenceCount : 0;
}

void TestHost::Record(const char* function, std::vector<std::string> args) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  DWORD thread = GetCurrentThreadId();
  if (thread != pluginThread) faults_.push_back(std::string(function) + " called off the plug-in thread");
  calls_.push_back(HostCall{function, std::move(args), thread});
}

void TestHost::Fault(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  faults_.push_back(text);
}

std::string TestHost::Describe(const NPVariant& value) {
  switch (value.type) {
    case NPVariantType_Void: return "void";
    case NPVariantType_Null: return "null";
    case NPVariantType_Bool: return value.value.boolValue ? "bool:true" : "bool:false";
    case NPVariantType_Int32: return "int32:" + std::to_string(value.value.intValue);
    case NPVariantType_Double: return "double:" + std::to_string(value.value.doubleValue);
    case NPVariantType_String:
      return "string:" + std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
    case NPVariantType_Object: return "object:" + Pointer(value.value.objectValue);
  }
  return "?";
}

NPIdentifier TestHost::StringId(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return identifiers_.String(name);
}

NPIdentifier TestHost::IntId(int32_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return identifiers_.Int(value);
}

std::string TestHost::NameOf(NPIdentifier id) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::string* name = identifiers_.Name(id);
  return name != nullptr ? *name : std::string();
}

char* TestHost::HostString(const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  char* memory = static_cast<char*>(memory_.Allocate(static_cast<uint32_t>(text.size() + 1)));
  if (memory != nullptr) std::memcpy(memory, text.c_str(), text.size() + 1);
  return memory;
}

NPObject* TestHost::CreatePageFunction(PageFunction body) {
  NPObject* object = AllocatePageObject(nullptr, &pageFunctionClass);
  object->_class = &pageFunctionClass;
  object->referenceCount = 1;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  objects_[object] = 1;
  pageFunctions_[object] = std::move(body);
  return object;
}

NPObject* TestHost::CreatePlainObject() { return NewPageObject(&plainObjectClass); }

NPObject* TestHost::NewPageObject(NPClass* aClass) {
  NPObject* object = AllocatePageObject(nullptr, aClass);
  object->_class = aClass;
  object->referenceCount = 1;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  objects_[object] = 1;
  return object;
}

void TestHost::EnsurePage() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (window_ != nullptr) return;
  window_ = NewPageObject(&windowClass);
  location_ = NewPageObject(&locationClass);
}

NPObject* TestHost::Window() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return window_;
}

NPObject* TestHost::Location() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return location_;
}

void TestHost::ClosePage() {
  NPObject* window = nullptr;
  NPObject* location = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::swap(window, window_);
    std::swap(location, location_);
  }
  if (window != nullptr) ReleaseObject(window);
  if (location != nullptr) ReleaseObject(location);
}

bool TestHost::AnswerProperty(PageAnswer answer, const std::function<void(NPVariant*)>& expected,
                              NPVariant* result) {
  switch (answer) {
    case PageAnswer::Expected: expected(result); break;
    case PageAnswer::Void: VOID_TO_NPVARIANT(*result); break;
    case PageAnswer::Null: NULL_TO_NPVARIANT(*result); break;
    case PageAnswer::Number: DOUBLE_TO_NPVARIANT(1.0, *result); break;
    case PageAnswer::String: {
      char* text = HostString(pageAddress);
      STRINGN_TO_NPVARIANT(text, static_cast<uint32_t>(pageAddress.size()), *result);
      break;
    }
    case PageAnswer::Object: OBJECT_TO_NPVARIANT(CreatePlainObject(), *result); break;
  }
  return true;
}

bool TestHost::WindowGetProperty(NPObject*, NPIdentifier name, NPVariant* result) {
  TestHost* host = currentHost;
  if (host->NameOf(name) != "location") {
    VOID_TO_NPVARIANT(*result);  // what a page answers for a property it does not have
    return true;
  }
  return host->AnswerProperty(host->locationAnswer, [host](NPVariant* value) {
    OBJECT_TO_NPVARIANT(host->Retain(host->Location()), *value);
  }, result);
}

bool TestHost::LocationGetProperty(NPObject*, NPIdentifier name, NPVariant* result) {
  TestHost* host = currentHost;
  if (host->NameOf(name) != "href") {
    VOID_TO_NPVARIANT(*result);
    return true;
  }
  return host->AnswerProperty(host->hrefAnswer, [host](NPVariant* value) {
    char* text = host->HostString(host->pageAddress);
    STRINGN_TO_NPVARIANT(text, static_cast<uint32_t>(host->pageAddress.size()), *value);
  }, result);
}

bool TestHost::Invoke(NPObject* object, const std::string& method, const std::vector<NPVariant>& args,
                      NPVariant* result) {
  VOID_TO_NPVARIANT(*result);
  if (!IsLive(object)) {
    Fault("script invoked a dead object");
    return false;
  }
  if (object->_class == nullptr || object->_class->invoke == nullptr) return false;
  return object->_class->invoke(object, StringId(method), args.data(), static_cast<uint32_t>(args.size()), result);
}

void TestHost::ReleaseObject(NPObject* object) {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  ReleaseLocked(object, lock);
}

void TestHost::ReleaseLocked(NPObject* object, std::unique_lock<std::recursive_mutex>& lock) {
  if (object == nullptr) return;
  if (objects_.count(object) == 0) {
    faults_.push_back("release of a dead object " + Pointer(object));
    return;
  }
  if (object->referenceCount == 0) {
    faults_.push_back("release of an object with no reference");
    return;
  }
  if (--object->referenceCount != 0) return;
  objects_.erase(object);
  pageFunctions_.erase(object);
  NPClass* cls = object->_class;
  lock.unlock();
  if (cls != nullptr && cls->deallocate != nullptr)
    cls->deallocate(object);
  else
    std::free(object);
  lock.lock();
}

void TestHost::ReleaseVariantValue(NPVariant* value) {
  if (value->type == NPVariantType_String) {
    MemFree(const_cast<NPUTF8*>(value->value.stringValue.UTF8Characters));
  } else if (value->type == NPVariantType_Object) {
    ReleaseObject(value->value.objectValue);
  }
  VOID_TO_NPVARIANT(*value);
}

void TestHost::InvalidateAndDeallocate(NPObject* object) {
  NPClass* cls = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (objects_.count(object) == 0) {
      faults_.push_back("forced deallocation of a dead object");
      return;
    }
    objects_.erase(object);
    pageFunctions_.erase(object);
    cls = object->_class;
  }
  if (cls != nullptr && cls->invalidate != nullptr) cls->invalidate(object);
  if (cls != nullptr && cls->deallocate != nullptr)
    cls->deallocate(object);
  else
    std::free(object);
}

// ---- host entries ---------------------------------------------------------

NPError TestHost::GetURL(NPP instance, const char* url, const char* window) {
  currentHost->Record("NPN_GetURL", {Pointer(instance), Text(url), Text(window)});
  return NPERR_NO_ERROR;
}

void* TestHost::MemAlloc(uint32_t size) {
  TestHost* host = currentHost;
  host->Record("NPN_MemAlloc", {std::to_string(size)});
  if (host->failMemAlloc) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(host->mutex_);
  return host->memory_.Allocate(size);
}

void TestHost::MemFree(void* ptr) {
  TestHost* host = currentHost;
  host->Record("NPN_MemFree", {Pointer(ptr)});
  if (ptr == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(host->mutex_);
  if (!host->memory_.Free(ptr)) host->faults_.push_back("NPN_MemFree of memory the host never gave: " + Pointer(ptr));
}

NPError TestHost::GetValue(NPP instance, NPNVariable variable, void* value) {
  TestHost* host = currentHost;
  host->Record("NPN_GetValue", {Pointer(instance), std::to_string(variable)});
  if (variable != NPNVWindowNPObject || value == nullptr || host->pageFailure == PageFailure::WindowError)
    return NPERR_GENERIC_ERROR;
  if (host->pageFailure == PageFailure::WindowNull) {
    *static_cast<NPObject**>(value) = nullptr;
    return NPERR_NO_ERROR;
  }
  host->EnsurePage();
  // The caller gets a reference of its own and must release it.
  *static_cast<NPObject**>(value) = host->Retain(host->Window());
  return NPERR_NO_ERROR;
}

NPError TestHost::SetValue(NPP instance, NPPVariable variable, void* value) {
  currentHost->Record("NPN_SetValue", {Pointer(instance), std::to_string(variable), Pointer(value)});
  return NPERR_NO_ERROR;
}

NPIdentifier TestHost::GetStringIdentifier(const NPUTF8* name) {
  TestHost* host = currentHost;
  host->Record("NPN_GetStringIdentifier", {Text(name)});
  std::string text = name != nullptr ? name : "";
  if ((host->pageFailure == PageFailure::LocationIdentifier && text == "location") ||
      (host->pageFailure == PageFailure::HrefIdentifier && text == "href"))
    return nullptr;
  return host->StringId(text);
}

NPIdentifier TestHost::GetIntIdentifier(int32_t intid) {
  currentHost->Record("NPN_GetIntIdentifier", {std::to_string(intid)});
  return currentHost->IntId(intid);
}

bool TestHost::IdentifierIsString(NPIdentifier identifier) {
  currentHost->Record("NPN_IdentifierIsString", {Pointer(identifier)});
  std::lock_guard<std::recursive_mutex> lock(currentHost->mutex_);
  return currentHost->identifiers_.IsString(identifier);
}

NPUTF8* TestHost::UTF8FromIdentifier(NPIdentifier identifier) {
  TestHost* host = currentHost;
  host->Record("NPN_UTF8FromIdentifier", {Pointer(identifier)});
  std::lock_guard<std::recursive_mutex> lock(host->mutex_);
  const std::string* name = host->identifiers_.Name(identifier);
  return name != nullptr ? host->HostString(*name) : nullptr;
}

int32_t TestHost::IntFromIdentifier(NPIdentifier identifier) {
  currentHost->Record("NPN_IntFromIdentifier", {Pointer(identifier)});
  std::lock_guard<std::recursive_mutex> lock(currentHost->mutex_);
  int32_t number = 0;
  return currentHost->identifiers_.Number(identifier, &number) ? number : 0;
}

NPObject* TestHost::CreateObject(NPP npp, NPClass* aClass) {
  TestHost* host = currentHost;
  host->Record("NPN_CreateObject", {Pointer(npp), Pointer(aClass)});
  if (host->failCreateObject || aClass == nullptr) return nullptr;
  NPObject* object = aClass->allocate != nullptr ? aClass->allocate(npp, aClass)
                                                 : static_cast<NPObject*>(std::calloc(1, sizeof(NPObject)));
  if (object == nullptr) return nullptr;
  object->_class = aClass;
  object->referenceCount = 1;
  std::lock_guard<std::recursive_mutex> lock(host->mutex_);
  host->objects_[object] = 1;
  return object;
}

NPObject* TestHost::RetainObject(NPObject* obj) {
  currentHost->Record("NPN_RetainObject", {Pointer(obj)});
  return currentHost->Retain(obj);
}

NPObject* TestHost::Retain(NPObject* obj) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (objects_.count(obj) == 0) {
    faults_.push_back("retain of a dead object " + Pointer(obj));
    return obj;
  }
  ++obj->referenceCount;
  return obj;
}

void TestHost::ReleaseObjectEntry(NPObject* obj) {
  currentHost->Record("NPN_ReleaseObject", {Pointer(obj)});
  currentHost->ReleaseObject(obj);
}

bool TestHost::InvokeDefault(NPP npp, NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  TestHost* host = currentHost;
  std::vector<std::string> described{Pointer(npp), Pointer(obj), std::to_string(argCount)};
  for (uint32_t i = 0; i < argCount; ++i) described.push_back(Describe(args[i]));
  host->Record("NPN_InvokeDefault", described);
  if (!host->IsLive(obj)) {
    host->Fault("NPN_InvokeDefault on a dead object");
    return false;
  }
  if (obj->_class == nullptr || obj->_class->invokeDefault == nullptr) return false;
  return obj->_class->invokeDefault(obj, args, argCount, result);
}

void TestHost::ReleaseVariantValueEntry(NPVariant* variant) {
  currentHost->Record("NPN_ReleaseVariantValue", {Describe(*variant)});
  currentHost->ReleaseVariantValue(variant);
}

void TestHost::SetException(NPObject* obj, const NPUTF8* message) {
  currentHost->Record("NPN_SetException", {Pointer(obj), Text(message)});
}

bool TestHost::GetProperty(NPP npp, NPObject* obj, NPIdentifier propertyName, NPVariant* result) {
  TestHost* host = currentHost;
  std::string name = "(null)";
  {
    std::lock_guard<std::recursive_mutex> lock(host->mutex_);
    int32_t number = 0;
    if (const std::string* text = host->identifiers_.Name(propertyName))
      name = *text;
    else if (host->identifiers_.Number(propertyName, &number))
      name = std::to_string(number);
  }
  host->Record("NPN_GetProperty", {Pointer(npp), Pointer(obj), name});
  if (!host->IsLive(obj)) {
    host->Fault("NPN_GetProperty on a dead object");
    return false;
  }
  if ((host->pageFailure == PageFailure::LocationProperty && name == "location") ||
      (host->pageFailure == PageFailure::HrefProperty && name == "href"))
    return false;
  if (obj->_class == nullptr || obj->_class->getProperty == nullptr) return false;
  return obj->_class->getProperty(obj, propertyName, result);
}

namespace {

bool PageFunctionInvokeDefault(NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  TestHost::PageFunction body;
  {
    TestHost* host = TestHost::Current();
    // Copied out so the page code can re-enter the host and the plug-in freely.
    body = host->PageFunctionFor(obj);
  }
  return body ? body(args, argCount, result) : false;
}

}  // namespace

TestHost::PageFunction TestHost::PageFunctionFor(NPObject* object) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto found = pageFunctions_.find(object);
  return found != pageFunctions_.end() ? found->second : PageFunction();
}

NPVariant StringArg(const char* text) { return StringArg(text, static_cast<uint32_t>(std::strlen(text))); }

NPVariant StringArg(const char* bytes, uint32_t length) {
  NPVariant v;
  STRINGN_TO_NPVARIANT(bytes, length, v);
  return v;
}

NPVariant NumberArg(double value) {
  NPVariant v;
  v.value.objectValue = nullptr;
  DOUBLE_TO_NPVARIANT(value, v);
  return v;
}

NPVariant Int32Arg(int32_t value) {
  NPVariant v;
  v.value.doubleValue = 0;
  INT32_TO_NPVARIANT(value, v);
  return v;
}

NPVariant BoolArg(bool value) {
  NPVariant v;
  v.value.doubleValue = 0;
  BOOLEAN_TO_NPVARIANT(value, v);
  return v;
}

NPVariant ObjectArg(NPObject* object) {
  NPVariant v;
  OBJECT_TO_NPVARIANT(object, v);
  return v;
}
