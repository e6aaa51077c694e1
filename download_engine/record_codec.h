// The line format of the engine's own files: one record per line, fields
// separated by tabs, with backslash escapes for the characters that would break
// a line or a field. Files are UTF-8.
#pragma once

#include <string>
#include <vector>

namespace engine {

std::wstring EncodeRecord(const std::vector<std::wstring>& fields);
// False for a line with a broken escape.
bool DecodeRecord(const std::wstring& line, std::vector<std::wstring>* fields);

// Splits text into lines (LF or CR LF), dropping a final empty line.
std::vector<std::wstring> SplitLines(const std::wstring& text);

// FNV-1a over the UTF-8 bytes: the journal's torn-write and corruption check.
unsigned long long Checksum(const std::string& bytes);

}  // namespace engine
