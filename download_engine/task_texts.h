// The texts the engine gives out and takes in besides events: the finished
// list's entries, the import text and the block status list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download_engine/task.h"

namespace engine {

// key|url|folder|file name|6|size|size|average speed|finished time|path|final url|content type|created time
std::wstring FinishedText(const FinishedEntry& entry);

// One task of an import text: url|folder|file name|referrer|connections, the
// last three optional. Lines are separated by CR LF or LF; empty lines are skipped.
struct ImportLine {
  std::wstring url;
  std::wstring folder;
  std::wstring fileName;
  std::wstring referrer;
  int32_t connections = 1;
};
bool ParseImportText(const std::wstring& text, std::vector<ImportLine>* lines, std::wstring* reason);

// One digit per MiB of the resource: 0 nothing yet, 1 partly, 2 complete.
constexpr int64_t kBlockSize = 1 << 20;
std::wstring BlockStatusText(int64_t size, const std::vector<Segment>& segments);

// Texts from servers or pages inside "|"-separated texts: "|" would split a field.
std::wstring FieldText(const std::wstring& text);

}  // namespace engine
