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

// One digit per block of the resource: 0 nothing yet, 1 partly, 2 complete.
// A block is 1 MiB; for a resource of more than kMaxBlocks MiB it is the
// smallest power-of-two multiple of 1 MiB that keeps the text within
// kMaxBlocks digits, whatever size a server announced.
constexpr int64_t kBlockSize = 1 << 20;
constexpr int64_t kMaxBlocks = 16384;
int64_t BlockSizeFor(int64_t size);
std::wstring BlockStatusText(int64_t size, const std::vector<Segment>& segments);

// Texts from servers or pages inside "|"-separated texts: "|" would split a field.
std::wstring FieldText(const std::wstring& text);

}  // namespace engine
