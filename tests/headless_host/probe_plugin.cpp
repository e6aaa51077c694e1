// A plug-in module that does on request what a careless module does by
// mistake, so that the headless host's rules and the bridge's paths can be
// shown to hold: it echoes values, posts URLs (also from another thread),
// calls page functions now or later, leaks memory, frees twice, releases
// too often, throws out of its entry points, keeps the page's window object,
// blocks the plug-in thread and writes to the host's standard output; it also
// hands back what a page function returned, and posts a paced series of
// time-stamped messages for the event benchmark. It
// asks for its page's address in NPP_New, as a site-locked module does, and
// keeps what the host answered.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "npapi/npfunctions.h"

namespace {

NPNetscapeFuncs* host = nullptr;

struct ProbeObject : NPObject {
  NPP npp;
  NPObject* kept = nullptr;  // a page function held across calls
};

struct Probe {
  NPP npp;
  ProbeObject* object = nullptr;
  std::string pageAtNew;  // the href NPP_New learned, or what went wrong
  // The paced series: a thread asks for each message on the plug-in thread.
  HANDLE seriesThread = nullptr;
  HANDLE stopSeries = nullptr;
  uint32_t seriesCount = 0;
  double seriesPerSecond = 0;
  uint32_t seriesPosted = 0;
};

bool IsName(NPIdentifier name, const char* wanted) {
  NPUTF8* text = host->utf8fromidentifier(name);
  bool same = text != nullptr && std::strcmp(text, wanted) == 0;
  host->memfree(text);
  return same;
}

const char* const kMethods[] = {"Echo",          "Post",        "PostFromThread", "PostLater",
                                "Call",          "Keep",        "CallKeptLater",  "Leak",
                                "FreeTwice",     "ReleaseTwice", "Throw",         "SetException",
                                "Fail",          "Forget",      "Page",           "PageAtNew",
                                "KeepWindow",    "Sleep",       "WriteOut",       "CallReturn",
                                "PostSeries"};

std::string Name(NPIdentifier name) {
  NPUTF8* text = host->utf8fromidentifier(name);
  std::string result = text != nullptr ? text : "";
  host->memfree(text);
  return result;
}

std::string StringArgument(const NPVariant* args, uint32_t argCount, uint32_t index) {
  if (index >= argCount || args[index].type != NPVariantType_String) return std::string();
  return std::string(args[index].value.stringValue.UTF8Characters, args[index].value.stringValue.UTF8Length);
}

// A string result in host memory, as results must be.
void TextResult(const std::string& text, NPVariant* result) {
  auto* copy = static_cast<NPUTF8*>(host->memalloc(static_cast<uint32_t>(text.size() + 1)));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  STRINGN_TO_NPVARIANT(copy, static_cast<uint32_t>(text.size()), *result);
}

void CopyValue(const NPVariant& from, NPVariant* to) {
  *to = from;
  if (from.type == NPVariantType_String) {
    TextResult(std::string(from.value.stringValue.UTF8Characters, from.value.stringValue.UTF8Length), to);
  } else if (from.type == NPVariantType_Object) {
    host->retainobject(from.value.objectValue);
  }
}

// Window, then window[first], then that[second], as a module learns its page's
// address; every object and value it got is released but the last value,
// which the caller owns. False when a step was refused (*what says which).
bool AskPage(NPP npp, const std::string& first, const std::string& second, NPVariant* value, std::string* what) {
  VOID_TO_NPVARIANT(*value);
  NPObject* window = nullptr;
  if (host->getvalue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || window == nullptr) {
    *what = "no window";
    return false;
  }
  NPVariant inner;
  VOID_TO_NPVARIANT(inner);
  bool got = host->getproperty(npp, window, host->getstringidentifier(first.c_str()), &inner);
  host->releaseobject(window);
  if (!got || inner.type != NPVariantType_Object) {
    host->releasevariantvalue(&inner);
    *what = "no " + first;
    return false;
  }
  got = host->getproperty(npp, inner.value.objectValue, host->getstringidentifier(second.c_str()), value);
  host->releasevariantvalue(&inner);
  if (!got) *what = "no " + second;
  return got;
}

struct LaterUrl {
  NPP npp;
  std::string url;
};

void PostNow(void* data) {
  auto* later = static_cast<LaterUrl*>(data);
  host->geturl(later->npp, later->url.c_str(), "_self");
  delete later;
}

struct LaterCall {
  ProbeObject* object;
  std::string text;
};

void CallKept(void* data) {
  auto* later = static_cast<LaterCall*>(data);
  if (later->object->kept != nullptr) {
    NPVariant argument, result;
    STRINGN_TO_NPVARIANT(later->text.c_str(), later->text.size(), argument);
    VOID_TO_NPVARIANT(result);
    host->invokeDefault(later->object->npp, later->object->kept, &argument, 1, &result);
    host->releasevariantvalue(&result);
  }
  delete later;
}

// Milliseconds since 1970, from the system's wall clock, as a page's clock reads it.
double UnixMilliseconds() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  return static_cast<double>(ticks.QuadPart - 116444736000000000ULL) / 10000.0;
}

// On the plug-in thread: the series' next message, stamped just before NPN_GetURL.
void PostSeriesMessage(void* data) {
  auto* probe = static_cast<Probe*>(data);
  char url[128];
  std::snprintf(url, sizeof url, "javascript:window.postMessage('halvo-series %u %.3f','*')", probe->seriesPosted++,
                UnixMilliseconds());
  host->geturl(probe->npp, url, "_self");
}

DWORD WINAPI RunSeries(void* data) {
  auto* probe = static_cast<Probe*>(data);
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (uint32_t i = 0; i < probe->seriesCount; ++i) {
    // Each message at its own time from the start, so that late ones do not push the rest.
    double due = i * 1000.0 / probe->seriesPerSecond;
    QueryPerformanceCounter(&now);
    double elapsed = static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    DWORD wait = due > elapsed ? static_cast<DWORD>(due - elapsed) : 0;
    if (WaitForSingleObject(probe->stopSeries, wait) == WAIT_OBJECT_0) break;
    host->pluginthreadasynccall(probe->npp, PostSeriesMessage, probe);
  }
  return 0;
}

void StopSeries(Probe* probe) {
  if (probe->seriesThread == nullptr) return;
  SetEvent(probe->stopSeries);
  WaitForSingleObject(probe->seriesThread, INFINITE);
  CloseHandle(probe->seriesThread);
  CloseHandle(probe->stopSeries);
  probe->seriesThread = nullptr;
  probe->stopSeries = nullptr;
}

NPObject* Allocate(NPP npp, NPClass*) {
  auto* object = new ProbeObject();
  object->npp = npp;
  return object;
}

void Deallocate(NPObject* object) {
  auto* probe = static_cast<ProbeObject*>(object);
  delete probe;
}

void Invalidate(NPObject* object) {
  // Whatever it still holds goes now: the host frees everything of the instance next.
  auto* probe = static_cast<ProbeObject*>(object);
  probe->kept = nullptr;
}

bool HasMethod(NPObject*, NPIdentifier name) {
  for (const char* method : kMethods)
    if (IsName(name, method)) return true;
  return false;
}

bool Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
  auto* object = static_cast<ProbeObject*>(npobj);
  std::string method = Name(name);
  if (method == "Echo") {
    if (argCount > 0) CopyValue(args[0], result);
    return true;
  }
  if (method == "Post") {
    std::string url = StringArgument(args, argCount, 0);
    std::string target = StringArgument(args, argCount, 1);
    NPError error = host->geturl(object->npp, url.c_str(), argCount > 1 ? target.c_str() : nullptr);
    INT32_TO_NPVARIANT(error, *result);
    return true;
  }
  if (method == "PostFromThread") {
    std::string url = StringArgument(args, argCount, 0);
    NPError error = 0;
    std::thread([&] { error = host->geturl(object->npp, url.c_str(), "_self"); }).join();
    INT32_TO_NPVARIANT(error, *result);
    return true;
  }
  if (method == "PostLater") {
    auto* later = new LaterUrl{object->npp, StringArgument(args, argCount, 0)};
    NPP npp = object->npp;
    std::thread([=] { host->pluginthreadasynccall(npp, PostNow, later); }).join();
    return true;
  }
  if (method == "Call") {
    if (argCount == 0 || args[0].type != NPVariantType_Object) return false;
    NPVariant answer;
    VOID_TO_NPVARIANT(answer);
    bool called = host->invokeDefault(object->npp, args[0].value.objectValue, args + 1, argCount - 1, &answer);
    host->releasevariantvalue(&answer);
    BOOLEAN_TO_NPVARIANT(called, *result);
    return true;
  }
  if (method == "CallReturn") {
    // What the page function returned, handed on as this call's result; "(failed)" when the call failed.
    if (argCount == 0 || args[0].type != NPVariantType_Object) return false;
    NPVariant answer;
    VOID_TO_NPVARIANT(answer);
    if (host->invokeDefault(object->npp, args[0].value.objectValue, args + 1, argCount - 1, &answer))
      *result = answer;  // ours to release: the caller's now
    else
      TextResult("(failed)", result);
    return true;
  }
  if (method == "PostSeries") {
    // PostSeries(count, perSecond): that many stamped messages, paced, from now on.
    auto* probe = static_cast<Probe*>(object->npp->pdata);
    if (argCount < 2 || !NPVARIANT_IS_DOUBLE(args[0]) || !NPVARIANT_IS_DOUBLE(args[1])) return false;
    double count = args[0].value.doubleValue, rate = args[1].value.doubleValue;
    if (!(count >= 0 && count <= 1e7 && rate > 0 && rate <= 1e5)) return false;
    StopSeries(probe);
    probe->seriesCount = static_cast<uint32_t>(count);
    probe->seriesPerSecond = rate;
    probe->seriesPosted = 0;
    probe->stopSeries = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    probe->seriesThread = CreateThread(nullptr, 0, RunSeries, probe, 0, nullptr);
    return true;
  }
  if (method == "Keep") {
    if (argCount == 0 || args[0].type != NPVariantType_Object) return false;
    if (object->kept != nullptr) host->releaseobject(object->kept);
    object->kept = host->retainobject(args[0].value.objectValue);
    return true;
  }
  if (method == "Forget") {
    if (object->kept != nullptr) host->releaseobject(object->kept);
    object->kept = nullptr;
    return true;
  }
  if (method == "CallKeptLater") {
    auto* later = new LaterCall{object, StringArgument(args, argCount, 0)};
    NPP npp = object->npp;
    std::thread([=] { host->pluginthreadasynccall(npp, CallKept, later); }).join();
    return true;
  }
  if (method == "Leak") {
    host->memalloc(16);
    return true;
  }
  if (method == "FreeTwice") {
    void* block = host->memalloc(8);
    host->memfree(block);
    host->memfree(block);
    return true;
  }
  if (method == "ReleaseTwice") {
    NPObject* extra = host->createobject(object->npp, object->_class);
    host->releaseobject(extra);
    host->releaseobject(extra);
    return true;
  }
  if (method == "Page") {
    // The page's address now (as a string in host memory, handed on), or why not.
    std::string first = argCount > 0 ? StringArgument(args, argCount, 0) : "location";
    std::string second = argCount > 1 ? StringArgument(args, argCount, 1) : "href";
    std::string what;
    if (!AskPage(object->npp, first, second, result, &what)) TextResult(what, result);
    return true;
  }
  if (method == "PageAtNew") {
    TextResult(static_cast<Probe*>(object->npp->pdata)->pageAtNew, result);
    return true;
  }
  if (method == "KeepWindow") {
    // A reference never released: the instance's end must take it.
    NPObject* window = nullptr;
    BOOLEAN_TO_NPVARIANT(host->getvalue(object->npp, NPNVWindowNPObject, &window) == NPERR_NO_ERROR, *result);
    return true;
  }
  if (method == "Sleep") {
    // A module that holds the plug-in thread, as one waiting on a stuck engine does.
    Sleep(argCount > 0 && NPVARIANT_IS_DOUBLE(args[0]) ? static_cast<DWORD>(args[0].value.doubleValue) : 0);
    return true;
  }
  if (method == "WriteOut") {
    // Bytes of its own on the host's standard output, as a module that prints does.
    std::string bytes = StringArgument(args, argCount, 0);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return true;
  }
  if (method == "Throw") throw std::runtime_error("thrown out of the module");
  if (method == "SetException") {
    host->setexception(npobj, StringArgument(args, argCount, 0).c_str());
    return true;
  }
  return false;  // "Fail" and anything else
}

bool NoProperty(NPObject*, NPIdentifier) { return false; }

NPClass probeClass = {NP_CLASS_STRUCT_VERSION, Allocate, Deallocate, Invalidate, HasMethod, Invoke, nullptr,
                      NoProperty, nullptr,      nullptr,    NoProperty, nullptr,   nullptr};

NPError New(NPMIMEType, NPP instance, uint16_t, int16_t argc, char** argn, char** argv, NPSavedData*) {
  // sleep="MS": NPP_New holds the plug-in thread that long, as a module waiting on a stuck engine does.
  for (int16_t i = 0; i < argc; ++i)
    if (std::strcmp(argn[i], "sleep") == 0) Sleep(static_cast<DWORD>(std::strtoul(argv[i], nullptr, 10)));
  auto* probe = new Probe{instance, nullptr, std::string()};
  instance->pdata = probe;
  NPVariant href;
  std::string what;
  if (!AskPage(instance, "location", "href", &href, &what))
    probe->pageAtNew = "(" + what + ")";
  else if (href.type != NPVariantType_String)
    probe->pageAtNew = "(not a string)";
  else
    probe->pageAtNew.assign(href.value.stringValue.UTF8Characters, href.value.stringValue.UTF8Length);
  host->releasevariantvalue(&href);
  return NPERR_NO_ERROR;
}

NPError Destroy(NPP instance, NPSavedData**) {
  auto* probe = static_cast<Probe*>(instance->pdata);
  StopSeries(probe);
  if (probe->object != nullptr) host->releaseobject(probe->object);
  delete probe;
  instance->pdata = nullptr;
  return NPERR_NO_ERROR;
}

NPError SetWindow(NPP, NPWindow* window) {
  return window != nullptr && IsWindow(static_cast<HWND>(window->window)) ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
}

NPError GetValue(NPP instance, NPPVariable variable, void* value) {
  if (instance == nullptr || variable != NPPVpluginScriptableNPObject) return NPERR_GENERIC_ERROR;
  auto* probe = static_cast<Probe*>(instance->pdata);
  if (probe->object == nullptr) probe->object = static_cast<ProbeObject*>(host->createobject(instance, &probeClass));
  *static_cast<NPObject**>(value) = host->retainobject(probe->object);
  return NPERR_NO_ERROR;
}

}  // namespace

extern "C" {

NPError OSCALL NP_GetEntryPoints(NPPluginFuncs* funcs) {
  funcs->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  funcs->newp = New;
  funcs->destroy = Destroy;
  funcs->setwindow = SetWindow;
  funcs->getvalue = GetValue;
  return NPERR_NO_ERROR;
}

NPError OSCALL NP_Initialize(NPNetscapeFuncs* table) {
  host = table;
  return NPERR_NO_ERROR;
}

NPError OSCALL NP_Shutdown() { return NPERR_NO_ERROR; }
}
