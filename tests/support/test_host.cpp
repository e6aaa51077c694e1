#include "tests/support/test_host.h"

#include <cstdlib>
#include <cstring>

#include "headless_host/kit/call_text.h"
#include "headless_host/kit/kit_functions.h"

namespace {

// A page function: the page object with the code it runs.
struct PageFunctionObject : NPObject {
  TestHost::PageFunction body;
};

NPObject* AllocatePageFunction(NPP, NPClass*) { return new PageFunctionObject(); }
void DeallocatePageFunction(NPObject* obj) { delete static_cast<PageFunctionObject*>(obj); }

bool PageFunctionInvokeDefault(NPObject* obj, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  // Copied out so the page code can re-enter the host and the plug-in freely, even release this object.
  TestHost::PageFunction body = static_cast<PageFunctionObject*>(obj)->body;
  return body ? body(args, argCount, result) : false;
}

// Other objects the page owns: deallocated by the host with free().
NPObject* AllocatePageObject(NPP, NPClass*) { return static_cast<NPObject*>(std::calloc(1, sizeof(NPObject))); }
void DeallocatePageObject(NPObject* obj) { std::free(obj); }

NPClass pageFunctionClass = {NP_CLASS_STRUCT_VERSION, AllocatePageFunction, DeallocatePageFunction, nullptr,
                             nullptr, nullptr, PageFunctionInvokeDefault, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr};
NPClass plainObjectClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
NPClass windowClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr, nullptr,
                       nullptr, nullptr, TestHost::WindowGetProperty, nullptr, nullptr, nullptr, nullptr};
NPClass locationClass = {NP_CLASS_STRUCT_VERSION, AllocatePageObject, DeallocatePageObject, nullptr, nullptr,
                         nullptr, nullptr, nullptr, TestHost::LocationGetProperty, nullptr, nullptr, nullptr, nullptr};

using Args = std::vector<std::string>;

}  // namespace

TestHost::TestHost() {
  FillKitFunctions(&funcs_);
  funcs_.geturl = GetURL;
  funcs_.getvalue = GetValue;
  funcs_.setvalue = SetValue;
  funcs_.setexception = SetException;
}

TestHost::~TestHost() { ClosePage(); }

TestHost* TestHost::Current() { return static_cast<TestHost*>(HostKit::Current()); }

std::vector<HostCall> TestHost::Calls(const std::string& function) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (function.empty()) return calls_;
  std::vector<HostCall> matching;
  for (const auto& call : calls_)
    if (call.function == function) matching.push_back(call);
  return matching;
}

void TestHost::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

std::vector<std::string> TestHost::Faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void TestHost::Fault(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(text);
}

void TestHost::Called(const char* function, std::vector<std::string> args) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(HostCall{function, std::move(args), GetCurrentThreadId()});
}

bool TestHost::MayAllocate(uint32_t) { return !failMemAlloc; }

bool TestHost::MayCreateObject(NPP) { return !failCreateObject; }

bool TestHost::GivesIdentifier(const std::string& name) {
  return !((pageFailure == PageFailure::LocationIdentifier && name == "location") ||
           (pageFailure == PageFailure::HrefIdentifier && name == "href"));
}

std::string TestHost::NameOf(NPIdentifier id) const {
  const std::string* name = Identifiers().Name(id);
  return name != nullptr ? *name : std::string();
}

NPObject* TestHost::CreatePageFunction(PageFunction body) {
  NPObject* object = Objects().Create(nullptr, &pageFunctionClass);
  if (object != nullptr) static_cast<PageFunctionObject*>(object)->body = std::move(body);
  return object;
}

NPObject* TestHost::CreatePlainObject() { return Objects().Create(nullptr, &plainObjectClass); }

void TestHost::EnsurePage() {
  if (window_ != nullptr) return;
  window_ = Objects().Create(nullptr, &windowClass);
  location_ = Objects().Create(nullptr, &locationClass);
}

void TestHost::ClosePage() {
  NPObject* window = nullptr;
  NPObject* location = nullptr;
  std::swap(window, window_);
  std::swap(location, location_);
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
  TestHost* host = Current();
  if (host->NameOf(name) != "location") {
    VOID_TO_NPVARIANT(*result);  // what a page answers for a property it does not have
    return true;
  }
  if (host->pageFailure == PageFailure::LocationProperty) return false;
  return host->AnswerProperty(host->locationAnswer, [host](NPVariant* value) {
    OBJECT_TO_NPVARIANT(host->Retain(host->Location()), *value);
  }, result);
}

bool TestHost::LocationGetProperty(NPObject*, NPIdentifier name, NPVariant* result) {
  TestHost* host = Current();
  if (host->NameOf(name) != "href") {
    VOID_TO_NPVARIANT(*result);
    return true;
  }
  if (host->pageFailure == PageFailure::HrefProperty) return false;
  return host->AnswerProperty(host->hrefAnswer, [host](NPVariant* value) {
    char* text = host->HostString(host->pageAddress);
    STRINGN_TO_NPVARIANT(text, static_cast<uint32_t>(host->pageAddress.size()), *value);
  }, result);
}

bool TestHost::Invoke(NPObject* object, const std::string& method, const std::vector<NPVariant>& args,
                      NPVariant* result) {
  VOID_TO_NPVARIANT(*result);
  if (!LiveObject(object, "script's invoke")) return false;
  if (object->_class == nullptr || object->_class->invoke == nullptr) return false;
  return object->_class->invoke(object, StringId(method), args.data(), static_cast<uint32_t>(args.size()), result);
}

void TestHost::ReleaseVariantValue(NPVariant* value) { ReleaseVariantContents(value); }

void TestHost::InvalidateAndDeallocate(NPObject* object) {
  if (!Objects().ForceDeallocate(object)) Fault("forced deallocation of an object that is not live");
}

// ---- the host functions this host answers itself ----------------------------

NPError TestHost::GetURL(NPP instance, const char* url, const char* window) {
  if (!Current()->Enter("NPN_GetURL", [&] { return Args{PointerText(instance), OptionalText(url), OptionalText(window)}; }))
    return NPERR_GENERIC_ERROR;
  return NPERR_NO_ERROR;
}

NPError TestHost::GetValue(NPP instance, NPNVariable variable, void* value) {
  TestHost* host = Current();
  if (!host->Enter("NPN_GetValue", [&] { return Args{PointerText(instance), std::to_string(variable)}; }))
    return NPERR_GENERIC_ERROR;
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
  if (!Current()->Enter("NPN_SetValue",
                        [&] { return Args{PointerText(instance), std::to_string(variable), PointerText(value)}; }))
    return NPERR_GENERIC_ERROR;
  return NPERR_NO_ERROR;
}

void TestHost::SetException(NPObject* obj, const NPUTF8* message) {
  Current()->Enter("NPN_SetException", [&] { return Args{PointerText(obj), OptionalText(message)}; });
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
