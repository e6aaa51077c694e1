#include "download_engine/record_codec.h"

namespace engine {

std::wstring EncodeRecord(const std::vector<std::wstring>& fields) {
  std::wstring line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += L'\t';
    for (wchar_t c : fields[i]) {
      switch (c) {
        case L'\\': line += L"\\\\"; break;
        case L'\t': line += L"\\t"; break;
        case L'\n': line += L"\\n"; break;
        case L'\r': line += L"\\r"; break;
        default: line += c;
      }
    }
  }
  return line;
}

bool DecodeRecord(const std::wstring& line, std::vector<std::wstring>* fields) {
  fields->assign(1, std::wstring());
  for (size_t i = 0; i < line.size(); ++i) {
    wchar_t c = line[i];
    if (c == L'\t') {
      fields->emplace_back();
    } else if (c == L'\\') {
      if (++i == line.size()) return false;
      switch (line[i]) {
        case L'\\': fields->back() += L'\\'; break;
        case L't': fields->back() += L'\t'; break;
        case L'n': fields->back() += L'\n'; break;
        case L'r': fields->back() += L'\r'; break;
        default: return false;
      }
    } else {
      fields->back() += c;
    }
  }
  return true;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

unsigned long long Checksum(const std::string& bytes) {
  unsigned long long hash = 1469598103934665603ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace engine
