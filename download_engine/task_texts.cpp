#include "download_engine/task_texts.h"

#include <algorithm>

#include "download_engine/text.h"

namespace engine {

std::wstring FieldText(const std::wstring& text) {
  std::wstring result = ReplaceAll(text, L"|", L"%7C");
  for (auto& c : result)
    if (c < 0x20 || c == 0x7F) c = L' ';
  return result;
}

std::wstring FinishedText(const FinishedEntry& entry) {
  std::vector<std::wstring> fields = {entry.key,
                                      entry.url,
                                      entry.folder,
                                      entry.fileName,
                                      L"6",
                                      ToText(entry.size),
                                      ToText(entry.size),
                                      std::to_wstring(entry.averageSpeed),
                                      FormatUtcTime(entry.finished),
                                      entry.path,
                                      entry.finalUrl,
                                      entry.contentType,
                                      FormatUtcTime(entry.created)};
  std::wstring text;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) text += L"|";
    text += FieldText(fields[i]);
  }
  return text;
}

bool ParseImportText(const std::wstring& text, std::vector<ImportLine>* lines, std::wstring* reason) {
  lines->clear();
  size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.find_first_not_of(L" \t") == std::wstring::npos) continue;
    std::vector<std::wstring> fields(1);
    for (wchar_t c : line) {
      if (c == L'|') fields.emplace_back();
      else fields.back() += c;
    }
    if (fields.size() < 2 || fields.size() > 5) {
      *reason = L"import line " + std::to_wstring(number) + L": expected url|folder[|file name[|referrer[|connections]]]";
      return false;
    }
    ImportLine item;
    item.url = fields[0];
    item.folder = fields[1];
    if (fields.size() > 2) item.fileName = fields[2];
    if (fields.size() > 3) item.referrer = fields[3];
    if (fields.size() > 4 && !fields[4].empty()) {
      int64_t connections;
      if (!ParseInt64(fields[4], &connections)) {
        *reason = L"import line " + std::to_wstring(number) + L": the connection count is not a number";
        return false;
      }
      item.connections = static_cast<int32_t>(std::clamp<int64_t>(connections, 1, 16));
    }
    lines->push_back(item);
  }
  if (lines->empty()) {
    *reason = L"the import text names no task";
    return false;
  }
  return true;
}

int64_t BlockSizeFor(int64_t size) {
  int64_t block = kBlockSize;
  while (size / block + (size % block != 0) > kMaxBlocks) block <<= 1;
  return block;
}

std::wstring BlockStatusText(int64_t size, const std::vector<Segment>& segments) {
  if (size <= 0) return std::wstring();
  const int64_t block = BlockSizeFor(size);
  const int64_t blocks = size / block + (size % block != 0);
  std::vector<int64_t> covered(static_cast<size_t>(blocks), 0);  // at most kMaxBlocks
  for (const auto& segment : segments) {
    // Only the part of a range inside the resource counts; no sum here can overflow.
    if (segment.begin < 0 || segment.begin >= size || segment.done <= 0) continue;
    int64_t from = segment.begin;
    int64_t to = from + std::min(segment.done, size - from);
    for (int64_t index = from / block; index < blocks && index * block < to; ++index) {
      int64_t blockBegin = index * block;
      int64_t blockEnd = blockBegin + std::min(block, size - blockBegin);
      covered[static_cast<size_t>(index)] += std::min(to, blockEnd) - std::max(from, blockBegin);
    }
  }
  std::wstring text;
  text.reserve(static_cast<size_t>(blocks));
  for (int64_t index = 0; index < blocks; ++index) {
    int64_t length = std::min(block, size - index * block);
    int64_t have = covered[static_cast<size_t>(index)];
    text += have <= 0 ? L'0' : have >= length ? L'2' : L'1';
  }
  return text;
}

}  // namespace engine
