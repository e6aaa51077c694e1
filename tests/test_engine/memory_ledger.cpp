#include "tests/test_engine/memory_ledger.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <map>
#include <mutex>

namespace {

enum class Watch { None, Text, List, Item };

struct Block {
  std::size_t size;
  Watch watch;
  bool sinceReset;
};

struct Counts {
  uint32_t handedOut = 0;
  uint32_t outstanding = 0;
};

// Heap-held and never destroyed: the spy is called by other modules while
// the process ends, after this DLL's static destructors would have run.
struct State {
  std::mutex mutex;
  std::map<const char*, Block> blocks;  // every live block allocated while the spy was registered
  Counts texts, lists, items;
  uint64_t allocations = 0;
  uint64_t frees = 0;
  uint32_t outstandingSinceReset = 0;
  bool registered = false;
  bool reliable = false;
};

// What PreAlloc or PreRealloc saw, for the Post call that follows on the same thread.
thread_local std::size_t pendingSize = 0;
thread_local const void* pendingRealloc = nullptr;

State& TheState() {
  static State* state = new State;
  return *state;
}

Counts& CountsFor(State& state, Watch watch) {
  switch (watch) {
    case Watch::List:
      return state.lists;
    case Watch::Item:
      return state.items;
    default:
      return state.texts;
  }
}

// Called with the state locked.
void Forget(State& state, const void* memory) {
  auto found = state.blocks.find(static_cast<const char*>(memory));
  if (found == state.blocks.end()) return;
  if (found->second.watch != Watch::None) {
    Counts& counts = CountsFor(state, found->second.watch);
    if (counts.outstanding > 0) --counts.outstanding;
  }
  if (found->second.sinceReset && state.outstandingSinceReset > 0) --state.outstandingSinceReset;
  ++state.frees;
  state.blocks.erase(found);
}

void Remember(State& state, const void* memory, std::size_t size) {
  if (memory == nullptr) return;
  state.blocks[static_cast<const char*>(memory)] = Block{size, Watch::None, true};
  ++state.allocations;
  ++state.outstandingSinceReset;
}

// The live block holding [address, address + length), or end().
std::map<const char*, Block>::iterator Containing(State& state, const void* address, std::size_t length) {
  const char* start = static_cast<const char*>(address);
  auto after = state.blocks.upper_bound(start);
  if (after == state.blocks.begin()) return state.blocks.end();
  auto block = std::prev(after);
  if (start + length > block->first + block->second.size) return state.blocks.end();
  return block;
}

// Observes only: sizes and pointers pass through unchanged.
class Spy : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override {
    pendingSize = request;
    return request;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    try {
      Remember(state, actual, pendingSize);
    } catch (...) {
      // Out of memory for the bookkeeping: the block goes unwatched.
    }
    return actual;
  }
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    Forget(state, request);
    return request;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** actual, BOOL) override {
    *actual = request;
    pendingRealloc = request;
    pendingSize = size;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    // A moved or resized block counts as freed and allocated anew.
    if (actual != nullptr || pendingSize == 0) Forget(state, pendingRealloc);
    try {
      Remember(state, actual, pendingSize);
    } catch (...) {
    }
    return actual;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

Spy* TheSpy() {
  static Spy* spy = new Spy;
  return spy;
}

void Mark(const void* memory, Watch watch) {
  if (memory == nullptr) return;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto block = Containing(state, memory, 1);
  Counts& counts = CountsFor(state, watch);
  ++counts.handedOut;
  if (block == state.blocks.end()) return;  // not seen by the spy: cannot be followed
  block->second.watch = watch;
  ++counts.outstanding;
}

// Frees of task memory reach the spy: a BSTR made and freed here must be seen going.
bool ProbeFreesAreSeen() {
  BSTR probe = SysAllocStringLen(nullptr, 977);
  if (probe == nullptr) return false;
  std::size_t length = 0;
  bool tracked = memory_ledger::IsLiveBstr(probe, &length) && length == 977;
  SysFreeString(probe);
  std::size_t after = 0;
  return tracked && !memory_ledger::IsLiveBstr(probe, &after);
}

}  // namespace

namespace memory_ledger {

void Install() {
  // Cached frees would look like leaks; the export exists on Windows and in Wine.
  HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  auto setNoCache = reinterpret_cast<void(WINAPI*)()>(
      reinterpret_cast<void*>(oleaut != nullptr ? GetProcAddress(oleaut, "SetOaNoCache") : nullptr));
  if (setNoCache != nullptr) setNoCache();
  bool registered = CoRegisterMallocSpy(TheSpy()) == S_OK;
  {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.registered = registered;
  }
  bool reliable = registered && ProbeFreesAreSeen();
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.reliable = reliable;
}

BSTR HandOutText(const std::wstring* text) {
  if (text == nullptr) return nullptr;
  BSTR copy = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
  Mark(copy, Watch::Text);
  return copy;
}

SAFEARRAY* HandOutList(const std::vector<const std::wstring*>& items, LONG lowerBound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), lowerBound};
  SAFEARRAY* list = SafeArrayCreate(VT_VARIANT, 1, &bound);
  if (list == nullptr) return nullptr;
  Mark(list, Watch::List);
  VARIANT* elements = nullptr;
  if (SafeArrayAccessData(list, reinterpret_cast<void**>(&elements)) != S_OK) return list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    V_VT(&elements[i]) = VT_BSTR;
    V_BSTR(&elements[i]) = nullptr;
    if (items[i] == nullptr) continue;
    V_BSTR(&elements[i]) = SysAllocStringLen(items[i]->data(), static_cast<UINT>(items[i]->size()));
    Mark(V_BSTR(&elements[i]), Watch::Item);
  }
  SafeArrayUnaccessData(list);
  return list;
}

bool IsLiveBstr(const wchar_t* text, std::size_t* length) {
  if (text == nullptr) return false;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  // The length prefix sits just before the characters, inside the same block.
  const char* prefix = reinterpret_cast<const char*>(text) - sizeof(UINT);
  auto block = Containing(state, prefix, sizeof(UINT));
  if (block == state.blocks.end()) return false;
  UINT bytes;
  std::memcpy(&bytes, prefix, sizeof bytes);
  if (Containing(state, prefix, sizeof(UINT) + std::size_t{bytes} + sizeof(wchar_t)) != block) return false;
  *length = bytes / sizeof(wchar_t);
  return true;
}

void Get(TestEngineLedger* ledger) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  ledger->textsHandedOut = state.texts.handedOut;
  ledger->textsOutstanding = state.texts.outstanding;
  ledger->listsHandedOut = state.lists.handedOut;
  ledger->listsOutstanding = state.lists.outstanding;
  ledger->itemsHandedOut = state.items.handedOut;
  ledger->itemsOutstanding = state.items.outstanding;
  ledger->taskAllocations = state.allocations;
  ledger->taskFrees = state.frees;
  ledger->taskOutstanding = state.outstandingSinceReset;
  ledger->reliable = state.reliable;
}

void Reset() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (auto& entry : state.blocks) {
    entry.second.watch = Watch::None;
    entry.second.sinceReset = false;
  }
  state.texts = Counts{};
  state.lists = Counts{};
  state.items = Counts{};
  state.allocations = 0;
  state.frees = 0;
  state.outstandingSinceReset = 0;
}

}  // namespace memory_ledger
