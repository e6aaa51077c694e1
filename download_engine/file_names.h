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
// The same rules without asking the file system whether the folder is there.
bool CheckFolderSyntax(const std::wstring& given, std::wstring* folder, std::wstring* reason);

// folder + "\" + name, when that stays inside the folder and below MAX_PATH with
// the partial suffix; otherwise false with a reason.
bool JoinTarget(const std::wstring& folder, const std::wstring& name, std::wstring* path, std::wstring* reason);

// The path is exactly the name inside the folder, both passing the rules
// above (the folder need not exist any more): the only kind of path the
// engine deletes a finished file at.
bool IsFileInFolder(const std::wstring& folder, const std::wstring& name, const std::wstring& path);

// The longest name JoinTarget accepts in the folder: 250 characters (a name
// holds 255 with ".part"), less where the whole path would pass MAX_PATH.
size_t MaxNameLength(const std::wstring& folder);

// The first of "name.ext", "name (1).ext", "name (2).ext", ... that is not
// taken; the stem (then the extension) is shortened so that a counted name
// stays within maxLength.
std::wstring UniqueName(const std::wstring& name, const std::function<bool(const std::wstring&)>& taken,
                        size_t maxLength = 250);

// The last path segment of a URL, percent-decoded as UTF-8; empty when there is none.
std::wstring NameFromUrl(const std::wstring& url);

}  // namespace engine
