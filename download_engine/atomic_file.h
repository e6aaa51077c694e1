// Files replaced whole so that a crash at any moment leaves either the old or
// the new content, never a mixture: write a temporary beside the file, flush it
// to the disk, then rename it over the old one.
#pragma once

#include <string>

namespace engine {

// Returns a Windows error code, 0 on success.
unsigned long ReplaceFileContent(const std::wstring& path, const std::string& bytes);
// False when the file is missing or unreadable.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

}  // namespace engine
