// A folder of the test's own under the temporary folder, removed with what the
// test left in it (and in its subfolders) when the fixture goes.
#pragma once

#include <windows.h>

#include <string>

// Removes a folder with everything in it and in its subfolders.
inline void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* tag) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"halvo-" + tag + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() { RemoveTree(path_); }

  const std::wstring& Path() const { return path_; }
  // A subfolder, made now.
  std::wstring Sub(const wchar_t* name) const {
    std::wstring sub = path_ + L"\\" + name;
    CreateDirectoryW(sub.c_str(), nullptr);
    return sub;
  }

 private:
  std::wstring path_;
};
