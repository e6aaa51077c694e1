#include "headless_host/host.h"

#include <atomic>
#include <cstring>
#include <deque>

#include "headless_host/host_functions.h"

namespace {

const wchar_t kPageClass[] = L"HalvoHostPage";
const wchar_t kElementClass[] = L"HalvoHostElement";
const wchar_t kMessageClass[] = L"HalvoHostMessages";
const UINT kAsyncCall = WM_APP + 7;
// Browsers keep addresses to a few megabytes; one this long is no page's.
const std::size_t kMaxPageAddress = 1 << 20;

std::atomic<std::size_t> faultCount{0};

struct AsyncCall {
  NPP npp;
  void (*function)(void*);
  void* data;
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

void RegisterClassOnce(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = name;
  RegisterClassExW(&windowClass);
}

bool ParseSize(const std::string& field, uint32_t* size) {
  uint64_t value = 0;
  if (!protocol::ParseNumber(field, &value) || value > 0xFFFF) return false;
  *size = static_cast<uint32_t>(value);
  return true;
}

// A request into an instance, on the stack while it runs: NPP_Destroy of that
// instance waits until none is; page functions it calls belong to it.
class OnStack {
 public:
  OnStack(Element* element, Element*& current) : element_(element), current_(current), saved_(current) {
    current_ = element;
    ++element->callsOnStack;
  }
  ~OnStack() {
    --element_->callsOnStack;
    current_ = saved_;
  }
  OnStack(const OnStack&) = delete;
  OnStack& operator=(const OnStack&) = delete;

 private:
  Element* element_;
  Element*& current_;
  Element* saved_;
};

bool SameNumber(const std::string& a, const std::string& b) {
  uint64_t x = 0, y = 0;
  return protocol::ParseNumber(a, &x) && protocol::ParseNumber(b, &y) && x == y;
}

bool ParsePosition(const std::string& field, int32_t* position) {
  int64_t value = 0;
  if (!protocol::ParseInt(field, &value) || value < -0x7FFF || value > 0x7FFF) return false;
  *position = static_cast<int32_t>(value);
  return true;
}

}  // namespace

HeadlessHost& HeadlessHost::Get() {
  static HeadlessHost host;
  return host;
}

HeadlessHost::HeadlessHost() {
  FillHostFunctions(&table_);
  SetPageObjectListener(this);
  SetWindowObjectTables(&Identifiers(), &Memory(), &Objects());
}

// ---- services for the host function table ----------------------------------

void HeadlessHost::Fault(const std::string& text) {
  ++faultCount;
  WriteLine("fault " + protocol::Text(text));
}

bool HeadlessHost::MayCreateObject(NPP npp) {
  if (ElementOf(npp) != nullptr) return true;
  Fault("NPN_CreateObject for an instance that is not live");
  return false;
}

void HeadlessHost::Unsupported(const char* function) { WriteLine("unsupported " + protocol::Text(function)); }

void HeadlessHost::Note(const std::string& text) { WriteLine("note " + protocol::Text(text)); }

Element* HeadlessHost::ElementOf(NPP npp) {
  auto found = byNpp_.find(npp);
  return found != byNpp_.end() ? found->second : nullptr;
}

NPObject* HeadlessHost::WindowObjectOf(Element* element) {
  NPObject* window = Objects().Find(element->windowObject);
  if (window == nullptr) {
    window = CreateWindowObject(element->Npp(), element->Page());
    element->windowObject = window != nullptr ? Objects().Id(window) : 0;
  }
  return window;
}

NPError HeadlessHost::GetURL(Element* element, const char* url, const char* target) {
  std::string text(url);
  // As a URL parser does, leading controls and blanks do not count.
  std::size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 0x20) ++start;
  if (Lower(text.substr(start, 11)) != "javascript:") {
    Note("NPN_GetURL refused: only javascript: URLs reach the page");
    return NPERR_INVALID_URL;
  }
  std::string frame = target != nullptr ? target : "";
  if (frame != "_self") {
    // A null target would stream the result to the plug-in; other frames are not the element's.
    Note("NPN_GetURL refused: javascript: URLs run only in the element's own frame (\"_self\")");
    return NPERR_INVALID_PARAM;
  }
  WriteLine("geturl " + std::to_string(element->Id()) + " " + protocol::Text(text) + " " + protocol::Text(frame));
  return NPERR_NO_ERROR;
}

void HeadlessHost::Status(Element* element, const char* message) {
  WriteLine("status " + std::to_string(element->Id()) + " " + protocol::Text(message));
}

void HeadlessHost::SetException(const char* message) {
  exceptionSet_ = true;
  exception_ = message;
}

void HeadlessHost::CallOnPluginThread(NPP npp, void (*function)(void*), void* data) {
  auto* call = new AsyncCall{npp, function, data};
  if (messageWindow_ == nullptr || !PostMessageW(messageWindow_, kAsyncCall, 0, reinterpret_cast<LPARAM>(call)))
    delete call;
}

LRESULT CALLBACK HeadlessHost::MessageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAsyncCall) {
    auto* call = reinterpret_cast<AsyncCall*>(lParam);
    HeadlessHost& host = Get();
    // A call for an instance that went meanwhile is dropped, as browsers drop it.
    if (call->npp == nullptr || host.ElementOf(call->npp) != nullptr) {
      try {
        call->function(call->data);
      } catch (...) {
        host.Fault("a C++ exception left a function given to NPN_PluginThreadAsyncCall");
      }
    }
    delete call;
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// ---- page objects ------------------------------------------------------------

bool HeadlessHost::PageFunctionCalled(PageObject* object, const NPVariant* args, uint32_t argCount,
                                      NPVariant* result) {
  std::string line = "callback " + currentCall_ + " fn:" + std::to_string(object->pageId);
  for (uint32_t i = 0; i < argCount; ++i) line += " " + protocol::FormatValue(FromVariant(args[i]));
  if (result != nullptr) VOID_TO_NPVARIANT(*result);
  WriteLine(line);
  // Outside any request no page waits for the plug-in: the page runs the function later (PROTOCOL.md).
  if (currentCall_ == "0") return true;
  // The page runs it now and answers with "return" or "throw"; what the page
  // asks meanwhile (a nested call) is served here, on this stack, as a browser does.
  PageWait wait;
  wait.seq = currentCall_;
  Element* element = currentElement_;
  bool exceptionSet = exceptionSet_;
  std::string exception = exception_;
  pageWaits_.push_back(&wait);
  HANDLE ready = input_.Ready();
  while (!wait.answered) {
    std::string next;
    if (input_.Pop(&next)) {
      Handle(next);
      continue;
    }
    if (input_.Ended()) break;
    // The thread's messages go on meanwhile, as in a browser's nested wait;
    // what they cause happens outside any request.
    currentCall_ = "0";
    currentElement_ = nullptr;
    PumpMessages();
    currentCall_ = wait.seq;
    currentElement_ = element;
    MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  pageWaits_.pop_back();
  currentCall_ = wait.seq;
  currentElement_ = element;
  exceptionSet_ = exceptionSet;
  exception_ = exception;
  if (!wait.answered) {
    Note("the input ended while a page function ran: NPN_InvokeDefault answers false");
    return false;
  }
  // A function that threw (or a page that did not answer in time) is a failed call.
  if (!wait.returned) return false;
  if (result == nullptr) return true;
  if (!ToResult(wait.value, element != nullptr ? element->Npp() : nullptr, result)) {
    VOID_TO_NPVARIANT(*result);
    return false;
  }
  return true;
}

void HeadlessHost::PageObjectReleased(PageObject* object) {
  pageObjects_.erase(object->pageId);
  WriteLine(std::string("released ") + (object->callable ? "fn:" : "obj:") + std::to_string(object->pageId));
}

// ---- values ----------------------------------------------------------------

bool HeadlessHost::ToVariant(const protocol::Value& value, NPP owner, NPVariant* variant,
                             std::vector<std::string>& texts, std::vector<NPObject*>& held) {
  using Kind = protocol::Value::Kind;
  variant->value.doubleValue = 0;
  switch (value.kind) {
    case Kind::Void: VOID_TO_NPVARIANT(*variant); return true;
    case Kind::Null: NULL_TO_NPVARIANT(*variant); return true;
    case Kind::Bool: BOOLEAN_TO_NPVARIANT(value.boolean, *variant); return true;
    case Kind::Int32: INT32_TO_NPVARIANT(value.int32, *variant); return true;
    case Kind::Double: DOUBLE_TO_NPVARIANT(value.number, *variant); return true;
    case Kind::String:
      texts.push_back(value.text);
      STRINGN_TO_NPVARIANT(texts.back().data(), texts.back().size(), *variant);
      return true;
    case Kind::Function:
    case Kind::Object: {
      PageObject* page = PageObjectFor(value, owner);
      if (page == nullptr) return false;
      held.push_back(page);
      OBJECT_TO_NPVARIANT(page, *variant);
      return true;
    }
    case Kind::PluginObject: {
      NPObject* object = Objects().Find(value.id);
      if (object == nullptr) return false;
      Objects().Retain(object);
      held.push_back(object);
      OBJECT_TO_NPVARIANT(object, *variant);
      return true;
    }
  }
  return false;
}

PageObject* HeadlessHost::PageObjectFor(const protocol::Value& value, NPP owner) {
  auto found = pageObjects_.find(value.id);
  if (found != pageObjects_.end() && Objects().Live(found->second)) {
    Objects().Retain(found->second);
    return found->second;
  }
  auto* page = static_cast<PageObject*>(Objects().Create(owner, PageObjectClass()));
  if (page == nullptr) return nullptr;
  page->pageId = value.id;
  page->callable = value.kind == protocol::Value::Kind::Function;
  pageObjects_[value.id] = page;
  return page;
}

bool HeadlessHost::ToResult(const protocol::Value& value, NPP owner, NPVariant* result) {
  using Kind = protocol::Value::Kind;
  switch (value.kind) {
    case Kind::String: {
      if (value.text.size() >= 0xFFFFFFFFu) return false;
      auto size = static_cast<uint32_t>(value.text.size());
      auto* copy = static_cast<char*>(Memory().Allocate(size + 1));
      if (copy == nullptr) return false;
      if (size > 0) std::memcpy(copy, value.text.data(), size);
      copy[size] = '\0';
      STRINGN_TO_NPVARIANT(copy, size, *result);
      return true;
    }
    case Kind::Function:
    case Kind::Object: {
      PageObject* page = PageObjectFor(value, owner);
      if (page == nullptr) return false;
      OBJECT_TO_NPVARIANT(page, *result);
      return true;
    }
    case Kind::PluginObject: {
      NPObject* object = Objects().Find(value.id);
      if (object == nullptr || !Objects().Retain(object)) return false;
      OBJECT_TO_NPVARIANT(object, *result);
      return true;
    }
    default: {
      std::vector<std::string> texts;
      std::vector<NPObject*> held;
      return ToVariant(value, owner, result, texts, held);
    }
  }
}

protocol::Value HeadlessHost::FromVariant(const NPVariant& variant) {
  using Kind = protocol::Value::Kind;
  protocol::Value value;
  switch (variant.type) {
    case NPVariantType_Void: value.kind = Kind::Void; break;
    case NPVariantType_Null: value.kind = Kind::Null; break;
    case NPVariantType_Bool:
      value.kind = Kind::Bool;
      value.boolean = variant.value.boolValue;
      break;
    case NPVariantType_Int32:
      value.kind = Kind::Int32;
      value.int32 = variant.value.intValue;
      break;
    case NPVariantType_Double:
      value.kind = Kind::Double;
      value.number = variant.value.doubleValue;
      break;
    case NPVariantType_String: {
      value.kind = Kind::String;
      const NPString& text = variant.value.stringValue;
      if (text.UTF8Characters != nullptr) value.text.assign(text.UTF8Characters, text.UTF8Length);
      break;
    }
    case NPVariantType_Object: {
      NPObject* object = variant.value.objectValue;
      if (!Objects().Live(object)) {
        Fault("a value names an object that is not live");
        value.kind = Kind::Null;
      } else if (object->_class == PageObjectClass()) {
        auto* page = static_cast<PageObject*>(object);
        value.kind = page->callable ? Kind::Function : Kind::Object;
        value.id = page->pageId;
      } else {
        value.kind = Kind::PluginObject;
        value.id = Objects().Id(object);
      }
      break;
    }
    default:
      Fault("a value of unknown type " + std::to_string(variant.type));
      value.kind = Kind::Void;
  }
  return value;
}

void HeadlessHost::ReleaseResult(NPVariant* variant) {
  if (variant->type == NPVariantType_String) {
    void* characters = const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters);
    if (characters != nullptr && !Memory().Free(characters))
      Fault("the module answered with a string that is not in host memory");
  } else if (variant->type == NPVariantType_Object) {
    if (Objects().Live(variant->value.objectValue)) Objects().ReleaseObject(variant->value.objectValue);
  }
  VOID_TO_NPVARIANT(*variant);
}

// ---- requests ----------------------------------------------------------------

Element* HeadlessHost::FindElement(const std::string& field, const std::string& seq) {
  uint64_t id = 0;
  if (!protocol::ParseNumber(field, &id)) {
    WriteLine("error " + seq + " " + protocol::Text("bad element id"));
    return nullptr;
  }
  auto found = elements_.find(id);
  if (found == elements_.end() || found->second->leaving) {
    WriteLine("error " + seq + " " + protocol::Text("no such element"));
    return nullptr;
  }
  return found->second.get();
}

bool HeadlessHost::Handle(const std::string& line) {
  std::vector<std::string> fields = protocol::SplitFields(line);
  uint64_t number = 0;
  if (fields.size() < 2 || !protocol::ParseNumber(fields[1], &number)) {
    WriteLine("error 0 " + protocol::Text("a request is a command and a sequence number, then its fields"));
    return true;
  }
  const std::string& command = fields[0];
  const std::string& seq = fields[1];
  // Handle runs nested while a page function runs: the outer request is restored after.
  std::string outerCall = currentCall_;
  Element* outerElement = currentElement_;
  currentCall_ = seq;
  currentElement_ = nullptr;
  bool goOn = true;
  try {
    if (command == "new") {
      New(seq, fields);
    } else if (command == "has") {
      Has(seq, fields);
    } else if (command == "get") {
      GetProperty(seq, fields);
    } else if (command == "call") {
      Call(seq, fields);
    } else if (command == "destroy") {
      DestroyElement(seq, fields);
    } else if (command == "ledger") {
      WriteLine("ok " + seq + " " + LedgerFields());
    } else if (command == "return" || command == "throw") {
      PageAnswered(command, seq, fields);
    } else if (command == "quit" && !pageWaits_.empty()) {
      WriteLine("error " + seq + " " + protocol::Text("a call waits for a page function; quit after it"));
    } else if (command == "quit") {
      ShutDown();
      WriteLine("ok " + seq + " " + LedgerFields());
      goOn = false;
    } else {
      WriteLine("error " + seq + " " + protocol::Text("unknown command " + command));
    }
  } catch (...) {
    Fault("a C++ exception left the module during \"" + command + "\"");
    WriteLine("error " + seq + " " + protocol::Text("the module threw"));
  }
  currentCall_ = outerCall;
  currentElement_ = outerElement;
  if (goOn) DestroyIdleLeavers();
  return goOn;
}

void HeadlessHost::New(const std::string& seq, const std::vector<std::string>& fields) {
  // new <seq> <element> '<page> '<type> <x> <y> <width> <height> ['<name> '<value>]...
  uint64_t id = 0;
  std::string page, type;
  ElementGeometry geometry;
  if (fields.size() < 9 || (fields.size() - 9) % 2 != 0 || !protocol::ParseNumber(fields[2], &id) ||
      !protocol::ParseText(fields[3], &page) || !protocol::ParseText(fields[4], &type) ||
      !ParsePosition(fields[5], &geometry.x) || !ParsePosition(fields[6], &geometry.y) ||
      !ParseSize(fields[7], &geometry.width) || !ParseSize(fields[8], &geometry.height)) {
    WriteLine("error " + seq + " " +
              protocol::Text("new <seq> <element> '<page> '<type> <x> <y> <width> <height> [pairs]"));
    return;
  }
  if (page.size() > kMaxPageAddress) {
    WriteLine("error " + seq + " " + protocol::Text("the page address is too long"));
    return;
  }
  if (elements_.count(id) != 0) {
    WriteLine("error " + seq + " " + protocol::Text("the element exists already"));
    return;
  }
  std::vector<std::pair<std::string, std::string>> attributes;
  for (std::size_t i = 9; i + 1 < fields.size(); i += 2) {
    std::string name, value;
    if (!protocol::ParseText(fields[i], &name) || !protocol::ParseText(fields[i + 1], &value)) {
      WriteLine("error " + seq + " " + protocol::Text("attributes are pairs of texts"));
      return;
    }
    attributes.emplace_back(name, value);
  }
  const PluginLibrary* library = nullptr;
  std::string registered;
  for (const auto& candidate : libraries_) {
    if (candidate->Handles(type, &registered)) {
      library = candidate.get();
      break;
    }
  }
  if (library == nullptr) {
    WriteLine("error " + seq + " " + protocol::Text("no plug-in handles " + type));
    return;
  }
  auto owned = std::make_unique<Element>(id, library, registered, std::move(page), std::move(attributes), geometry);
  Element* element = owned.get();
  elements_[id] = std::move(owned);
  byNpp_[element->Npp()] = element;
  NPError created = element->New();
  if (created != NPERR_NO_ERROR) {
    // No instance: whatever it made goes with it.
    ReleaseInstanceObjects(element);
    byNpp_.erase(element->Npp());
    elements_.erase(id);
    WriteLine("ok " + seq + " " + std::to_string(created) + " null");
    return;
  }
  NPError windowResult = element->GiveWindow(pageWindow_, kElementClass);
  if (windowResult != NPERR_NO_ERROR) Note("NPP_SetWindow answered " + std::to_string(windowResult));
  NPObject* scriptable = nullptr;
  if (element->AskScriptable(&scriptable) != NPERR_NO_ERROR) scriptable = nullptr;
  if (scriptable != nullptr && !Objects().Live(scriptable)) {
    Fault("NPP_GetValue answered with a scriptable object that NPN_CreateObject did not make");
    scriptable = nullptr;
  }
  element->scriptable = scriptable;
  WriteLine("ok " + seq + " 0 " + (scriptable != nullptr ? "np:" + std::to_string(Objects().Id(scriptable)) : "null"));
}

Element* HeadlessHost::NamedRequest(const std::string& seq, const std::vector<std::string>& fields, const char* verb,
                                   std::string* name) {
  if (fields.size() != 4 || !protocol::ParseText(fields[3], name)) {
    WriteLine("error " + seq + " " + protocol::Text(std::string(verb) + " <seq> <element> '<name>"));
    return nullptr;
  }
  return FindElement(fields[2], seq);
}

void HeadlessHost::Has(const std::string& seq, const std::vector<std::string>& fields) {
  std::string name;
  Element* element = NamedRequest(seq, fields, "has", &name);
  if (element == nullptr) return;
  NPObject* object = element->scriptable;
  bool method = false, property = false;
  if (object != nullptr && Objects().Live(object) && object->_class != nullptr) {
    OnStack onStack(element, currentElement_);
    NPIdentifier id = Identifiers().String(name);
    if (object->_class->hasMethod != nullptr) method = object->_class->hasMethod(object, id);
    if (object->_class->hasProperty != nullptr) property = object->_class->hasProperty(object, id);
  }
  DestroyIdleLeavers();
  WriteLine("ok " + seq + (method ? " true" : " false") + (property ? " true" : " false"));
}

void HeadlessHost::GetProperty(const std::string& seq, const std::vector<std::string>& fields) {
  std::string name;
  Element* element = NamedRequest(seq, fields, "get", &name);
  if (element == nullptr) return;
  NPObject* object = element->scriptable;
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  exceptionSet_ = false;
  std::string answer;
  {
    OnStack onStack(element, currentElement_);
    bool got = object != nullptr && Objects().Live(object) && object->_class != nullptr &&
               object->_class->getProperty != nullptr &&
               object->_class->getProperty(object, Identifiers().String(name), &result);
    if (got && !exceptionSet_)
      answer = "ok " + seq + " " + protocol::FormatValue(FromVariant(result));
    else
      answer = "failed " + seq + " " + protocol::Text(exceptionSet_ ? exception_ : std::string());
    if (got) ReleaseResult(&result);
  }
  DestroyIdleLeavers();
  WriteLine(answer);
}

void HeadlessHost::Call(const std::string& seq, const std::vector<std::string>& fields) {
  // call <seq> <element> '<method> <value>...
  std::string name;
  if (fields.size() < 4 || !protocol::ParseText(fields[3], &name)) {
    WriteLine("error " + seq + " " + protocol::Text("call <seq> <element> '<method> <value>..."));
    return;
  }
  Element* element = FindElement(fields[2], seq);
  if (element == nullptr) return;
  NPObject* object = element->scriptable;
  if (object == nullptr || !Objects().Live(object)) {
    WriteLine("failed " + seq + " " + protocol::Text("the element has no scriptable object"));
    return;
  }
  std::vector<std::string> texts;
  texts.reserve(fields.size());  // the variants point into these
  std::vector<NPObject*> held;
  std::vector<NPVariant> args(fields.size() - 4);
  bool good = true;
  for (std::size_t i = 4; i < fields.size() && good; ++i) {
    protocol::Value value;
    good = protocol::ParseValue(fields[i], &value) && ToVariant(value, element->Npp(), &args[i - 4], texts, held);
  }
  if (!good) {
    for (NPObject* held_object : held) Objects().ReleaseObject(held_object);
    WriteLine("error " + seq + " " + protocol::Text("bad value"));
    return;
  }
  exceptionSet_ = false;
  exception_.clear();
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  std::string answer;
  {
    OnStack onStack(element, currentElement_);
    bool done = object->_class != nullptr && object->_class->invoke != nullptr &&
                object->_class->invoke(object, Identifiers().String(name), args.data(),
                                       static_cast<uint32_t>(args.size()), &result);
    // The arguments' page objects were the host's for the call only.
    for (NPObject* held_object : held)
      if (Objects().Live(held_object)) Objects().ReleaseObject(held_object);
    if (done && !exceptionSet_)
      answer = "ok " + seq + " " + protocol::FormatValue(FromVariant(result));
    else
      answer = "failed " + seq + " " + protocol::Text(exception_);
    if (done) ReleaseResult(&result);
  }
  // An instance the page removed during the call goes before the call's answer.
  DestroyIdleLeavers();
  WriteLine(answer);
}

void HeadlessHost::DestroyElement(const std::string& seq, const std::vector<std::string>& fields) {
  if (fields.size() != 3) {
    WriteLine("error " + seq + " " + protocol::Text("destroy <seq> <element>"));
    return;
  }
  Element* element = FindElement(fields[2], seq);
  if (element == nullptr) return;
  if (element->callsOnStack > 0) {
    // As browsers do, NPP_Destroy waits for the calls into the instance on the stack to return.
    element->leaving = true;
    element->destroyWhenIdle = true;
    WriteLine("ok " + seq + " delayed");
    return;
  }
  std::size_t forced = 0;
  NPError result = Destroy(element, &forced);
  WriteLine("ok " + seq + " " + std::to_string(result) + " " + std::to_string(forced));
}

void HeadlessHost::DestroyIdleLeavers() {
  for (;;) {
    Element* idle = nullptr;
    for (auto& entry : elements_) {
      if (entry.second->destroyWhenIdle && entry.second->callsOnStack == 0) {
        idle = entry.second.get();
        break;
      }
    }
    if (idle == nullptr) return;
    idle->destroyWhenIdle = false;
    uint64_t id = idle->Id();
    std::size_t forced = 0;
    NPError result = Destroy(idle, &forced);
    WriteLine("destroyed " + std::to_string(id) + " " + std::to_string(result) + " " + std::to_string(forced));
  }
}

void HeadlessHost::PageAnswered(const std::string& command, const std::string& seq,
                                const std::vector<std::string>& fields) {
  // return <seq> <call> <value> | throw <seq> <call>
  bool returned = command == "return";
  protocol::Value value;
  if (fields.size() != (returned ? 4u : 3u) || (returned && !protocol::ParseValue(fields[3], &value))) {
    WriteLine("error " + seq + " " + protocol::Text("return <seq> <call> <value> | throw <seq> <call>"));
    return;
  }
  // Only the innermost page function waits: nested calls answer in the order they were made.
  PageWait* wait = pageWaits_.empty() ? nullptr : pageWaits_.back();
  if (wait == nullptr || wait->answered || !SameNumber(wait->seq, fields[2])) {
    WriteLine("error " + seq + " " + protocol::Text("no page function of request " + fields[2] + " waits"));
    return;
  }
  if (value.kind == protocol::Value::Kind::PluginObject && Objects().Find(value.id) == nullptr) {
    WriteLine("error " + seq + " " + protocol::Text("bad value"));
    return;
  }
  wait->answered = true;
  wait->returned = returned;
  wait->value = value;
  WriteLine("ok " + seq);
}

NPError HeadlessHost::Destroy(Element* element, std::size_t* forced) {
  element->leaving = true;
  NPSavedData* saved = nullptr;
  // Page functions NPP_Destroy calls belong to this instance.
  Element* outer = currentElement_;
  currentElement_ = element;
  NPError result = element->Destroy(&saved);
  currentElement_ = outer;
  if (saved != nullptr) {
    // Kept by browsers for a later instance of the same page; nothing here reloads, so it goes.
    if (saved->buf != nullptr && !Memory().Free(saved->buf)) Fault("saved data not in host memory");
    if (!Memory().Free(saved)) Fault("saved data record not in host memory");
  }
  element->scriptable = nullptr;
  *forced = ReleaseInstanceObjects(element);
  element->CloseWindow();
  uint64_t id = element->Id();
  byNpp_.erase(element->Npp());
  elements_.erase(id);
  return result;
}

std::size_t HeadlessHost::ReleaseInstanceObjects(Element* element) {
  // The window object is the page's, not the module's: the host's reference
  // goes first, so only references a module kept count as forced.
  if (NPObject* window = Objects().Find(element->windowObject)) Objects().ReleaseObject(window);
  element->windowObject = 0;
  return Objects().ForceDeallocate(element->Npp());
}

std::string HeadlessHost::LedgerFields() const {
  return "memory=" + std::to_string(Memory().Blocks()) + " bytes=" + std::to_string(Memory().Bytes()) +
         " objects=" + std::to_string(Objects().Count()) + " instances=" + std::to_string(elements_.size()) +
         " identifiers=" + std::to_string(Identifiers().Count()) + " faults=" + std::to_string(faultCount.load());
}

void HeadlessHost::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  while (!elements_.empty()) {
    std::size_t forced = 0;
    Destroy(elements_.begin()->second.get(), &forced);
  }
  for (auto library = libraries_.rbegin(); library != libraries_.rend(); ++library) {
    NPError result = (*library)->Shutdown();
    if (result != NPERR_NO_ERROR) Note("NP_Shutdown answered " + std::to_string(result));
  }
}

void HeadlessHost::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int HeadlessHost::Run(const std::vector<std::wstring>& modules) {
  SetPluginThread(GetCurrentThreadId());
  RegisterClassOnce(kPageClass, DefWindowProcW);
  RegisterClassOnce(kElementClass, DefWindowProcW);
  RegisterClassOnce(kMessageClass, MessageWindowProc);
  pageWindow_ = CreateWindowExW(0, kPageClass, L"page", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1280, 1024,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  messageWindow_ = CreateWindowExW(0, kMessageClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
  if (pageWindow_ == nullptr || messageWindow_ == nullptr) {
    WriteLine("error 0 " + protocol::Text("no window (error " + std::to_string(GetLastError()) + ")"));
    return 3;
  }
  for (const auto& path : modules) {
    std::string error;
    std::unique_ptr<PluginLibrary> library = PluginLibrary::Load(path, &table_, &error);
    if (!library) {
      WriteLine("error 0 " + protocol::Text(error));
      return 2;
    }
    std::string line = "plugin " + protocol::Text(library->Path()) + " " + protocol::Text(library->Name()) + " " +
                       protocol::Text(library->Description());
    for (const auto& type : library->MimeTypes()) line += " " + protocol::Text(type);
    WriteLine(line);
    libraries_.push_back(std::move(library));
  }
  if (!input_.Start()) return 4;
  WriteLine("ready " + std::to_string(GetCurrentProcessId()));
  HANDLE ready = input_.Ready();
  bool running = true;
  while (running) {
    PumpMessages();
    std::string line;
    while (running && input_.Pop(&line)) {
      running = Handle(line);
      if (running) PumpMessages();
    }
    if (!running) break;
    if (input_.Ended()) {
      ShutDown();
      WriteLine("exit " + LedgerFields());
      break;
    }
    MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  libraries_.clear();
  return 0;
}
