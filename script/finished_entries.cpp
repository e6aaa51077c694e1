#include "script/finished_entries.h"

#include "script/engine_list.h"

namespace {

// The n-th field (from 0) of a finished text; the engine keeps "|" out of its fields.
std::wstring Field(const std::wstring& text, std::size_t wanted) {
  std::size_t start = 0;
  for (std::size_t field = 0; field < wanted; ++field) {
    start = text.find(L'|', start);
    if (start == std::wstring::npos) return std::wstring();
    ++start;
  }
  return text.substr(start, text.find(L'|', start) - start);
}

const std::size_t kKeyField = 0;
const std::size_t kPathField = 9;

}  // namespace

bool NamesFinishedEntry(IDownload* download, const std::wstring& key, const std::wstring& path) {
  if (path.empty()) return false;
  EngineList list;
  if (download->ListFinishedTasks(list.Out()) != S_OK) return false;
  for (const auto& text : list.Strings()) {
    if (text && Field(*text, kKeyField) == key && Field(*text, kPathField) == path) return true;
  }
  return false;
}
