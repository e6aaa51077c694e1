#include "tests/test_engine/behaviour.h"

#include <cwchar>
#include <map>
#include <mutex>

#include "tests/test_engine/engine_methods.h"

namespace {

struct Rule {
  std::wstring object;
  std::wstring method;
  std::optional<IID> iid;
  HRESULT result;
  std::optional<std::wstring> description;
  uint32_t skip;
  uint32_t times;  // 0: without end
  uint32_t seen = 0;
};

// Heap-held and never destroyed, like every process-wide state of the engine.
struct State {
  std::mutex mutex;
  std::vector<Rule> rules;
  std::map<std::wstring, int64_t> numbers;
  std::map<std::wstring, behaviour::Text> texts;
  std::map<std::wstring, behaviour::List> lists;
  std::map<std::wstring, behaviour::TaskInfo> tasks;
};

State& TheState() {
  static State* state = new State;
  return *state;
}

bool OneOf(const wchar_t* name, std::initializer_list<const wchar_t*> names) {
  if (name == nullptr) return false;
  for (const wchar_t* candidate : names)
    if (std::wcscmp(candidate, name) == 0) return true;
  return false;
}

bool IsNumberOut(const wchar_t* method) {
  return OneOf(method, {L"CreateDownload", L"GetBlockStatusList", L"GetResourceSize", L"GetTotalDownloadSpeed",
                        L"GetDownloadingCount", L"GetUPnP", L"GetLimitSpeed", L"GetDiskCache",
                        L"GetMaxDownloadCount", L"GetAutoStart", L"GetUDPPort", L"GetDownloadSingleThread"});
}

bool IsTextOut(const wchar_t* method) { return OneOf(method, {L"GetPeerID", L"GetIP", L"GetBlockStatusList"}); }

bool IsListOut(const wchar_t* method) { return OneOf(method, {L"ListWorkTasks", L"ListFinishedTasks"}); }

behaviour::Text TextOf(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  return std::wstring(text);
}

}  // namespace

namespace behaviour {

std::optional<Decision> Decide(const wchar_t* object, const wchar_t* method, const IID* iid) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (Rule& rule : state.rules) {
    if (rule.object != object || rule.method != method) continue;
    if (rule.iid && (iid == nullptr || *rule.iid != *iid)) continue;
    uint32_t position = rule.seen++;
    if (position < rule.skip) continue;  // lets this one pass
    if (rule.times != 0 && position - rule.skip >= rule.times) continue;
    return Decision{rule.result, rule.description};
  }
  return std::nullopt;
}

HRESULT AddRule(const TestEngineRule& rule) {
  if (engine_methods::Slot(rule.object, rule.method) == -2) return E_INVALIDARG;
  Rule stored{rule.object, rule.method, std::nullopt, rule.result, TextOf(rule.description), rule.skip, rule.times};
  if (rule.iid != nullptr) stored.iid = *rule.iid;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.rules.push_back(std::move(stored));
  return S_OK;
}

HRESULT SetOutNumber(const wchar_t* method, int64_t value) {
  if (!IsNumberOut(method)) return E_INVALIDARG;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.numbers[method] = value;
  return S_OK;
}

HRESULT SetOutText(const wchar_t* method, const wchar_t* text) {
  if (!IsTextOut(method)) return E_INVALIDARG;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.texts[method] = TextOf(text);
  return S_OK;
}

HRESULT SetList(const wchar_t* method, const wchar_t* const* items, uint32_t count, LONG lowerBound) {
  if (!IsListOut(method) || (items == nullptr && count != 0)) return E_INVALIDARG;
  List list;
  list.lowerBound = lowerBound;
  for (uint32_t i = 0; i < count; ++i) list.items.push_back(TextOf(items[i]));
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.lists[method] = std::move(list);
  return S_OK;
}

HRESULT SetTaskInfo(const wchar_t* key, const TestEngineTaskInfo* info) {
  if (key == nullptr) return E_INVALIDARG;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (info == nullptr) {
    state.tasks.erase(key);
    return S_OK;
  }
  TaskInfo stored;
  stored.texts[0] = TextOf(info->url);
  stored.texts[1] = TextOf(info->folder);
  stored.texts[2] = TextOf(info->fileName);
  stored.texts[3] = TextOf(info->message);
  stored.writeState = info->writeState != FALSE;
  stored.state = info->state;
  stored.size = info->size;
  stored.done = info->done;
  stored.speed = info->speed;
  state.tasks[key] = std::move(stored);
  return S_OK;
}

std::optional<int64_t> OutNumber(const wchar_t* method) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.numbers.find(method);
  if (found == state.numbers.end()) return std::nullopt;
  return found->second;
}

Text OutText(const wchar_t* method) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.texts.find(method);
  return found != state.texts.end() ? found->second : std::nullopt;
}

List OutList(const wchar_t* method) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.lists.find(method);
  return found != state.lists.end() ? found->second : List{};
}

std::optional<TaskInfo> TaskInfoFor(const std::wstring& key) {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.tasks.find(key);
  if (found == state.tasks.end()) return std::nullopt;
  return found->second;
}

void Reset() {
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.rules.clear();
  state.numbers.clear();
  state.texts.clear();
  state.lists.clear();
  state.tasks.clear();
}

}  // namespace behaviour
