// The rules for where a download may be written: an existing absolute folder
// and a plain file name inside it, never a path that leaves the folder.
#pragma once

#include <functional>
#include <string>

namespace engine {

// The partial file's name beside the target: "<name>.part".
extern const wchar_t kPartialSuffix[];

// False with a reason when the name is not one plain Windows file name: path
// separators, "." or "..", characters Windows forbids, control characters, a
// trailing dot or space, a reserved device name (CON, NUL, COM1, ...), or too long.
bool CheckFileName(const std::wstring& name, std::wstring* reason);

// Normalises the folder (forward slashes, trailing separator) into *folder;
// false with a reason when it is empty, relative, a device path, holds "." or
// ".." or forbidden names, or does not exist as a folder.
bool CheckFolder(const std::wstring& given, std::wstring* folder, std::wstring* reason);

// folder + "\" + name, when that stays inside the folder and below MAX_PATH with
// the partial suffix; otherwise false with a reason.
bool JoinTarget(const std::wstring& folder, const std::wstring& name, std::wstring* path, std::wstring* reason);

// The first of "name.ext", "name (1).ext", "name (2).ext", ... that is not taken.
std::wstring UniqueName(const std::wstring& name, const std::function<bool(const std::wstring&)>& taken);

// The last path segment of a URL, percent-decoded as UTF-8; empty when there is none.
std::wstring NameFromUrl(const std::wstring& url);

}  // namespace engine
