// The task store of an instance: records by key, keys in the order first stored.
#include <algorithm>
#include <set>

#include "transfer/critical_section.h"
#include "transfer/halvo_plugin.h"
#include "transfer/message_format.h"
#include "transfer/page_channel.h"

bool HalvoPlugin::StoreTask(const _TaskParam& record) {
  CriticalSectionLock guard(lock);
  auto inserted = taskParams.insert({record.key, record});
  if (!inserted.second) {
    // A known key: the record is replaced and the key keeps its place, so a task
    // is listed once however many progress events it had.
    inserted.first->second = record;
    return false;
  }
  taskKeys.push_back(record.key);
  return true;
}

void HalvoPlugin::RemoveTask(const std::wstring& key) {
  CriticalSectionLock guard(lock);
  taskParams.erase(key);
  auto found = std::find(taskKeys.begin(), taskKeys.end(), key);
  if (found != taskKeys.end()) taskKeys.erase(found);
}

void HalvoPlugin::RemoveTasks(const std::vector<std::wstring>& keys) {
  if (keys.empty()) return;
  // One pass over the order, however many go: a list's worth of keys costs no more than the list.
  std::set<std::wstring> going(keys.begin(), keys.end());
  CriticalSectionLock guard(lock);
  for (const auto& key : going) taskParams.erase(key);
  taskKeys.erase(std::remove_if(taskKeys.begin(), taskKeys.end(),
                                [&](const std::wstring& key) { return going.count(key) != 0; }),
                 taskKeys.end());
}

void HalvoPlugin::DeliverTaskRecords(NPObject* callback) {
  if (callback == nullptr) return;
  // The lock is held while a record is read, never while the page function
  // runs: the page may take long, and the engine's event thread must not wait
  // for it (nor the page's own calls into the engine for that thread). The
  // length is read again at every position: a page function that stores a
  // task from inside the walk extends it.
  for (std::size_t i = 0;; ++i) {
    std::string text;
    {
      CriticalSectionLock guard(lock);
      if (i >= taskKeys.size()) break;
      auto found = taskParams.find(taskKeys[i]);
      if (found == taskParams.end()) continue;
      // Copied out: the page function may change the store under the walk.
      text = EscapeForScript(FormatTaskRecordText(found->second));
    }
    CallPageCallback(npp, callback, text);
  }
}
