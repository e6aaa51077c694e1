// Files replaced whole so that a crash at any moment leaves either the old or
// the new content, never a mixture: write a temporary beside the file, flush it
// to the disk, then rename it over the old one.
#pragma once

#include <string>

namespace engine {

// Returns a Windows error code, 0 on success.
unsigned long ReplaceFileContent(const std::wstring& path, const std::string& bytes);
// The engine's own files are small; a larger one is read only this far (its
// check then fails), so no file can make the engine allocate without bound.
constexpr size_t kMaxReadBytes = 32u << 20;
// False when the file is missing or unreadable.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

}  // namespace engine
