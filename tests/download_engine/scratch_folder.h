// A folder of the test's own under the temporary folder, removed with what the
// test left in it (and in its subfolders) when the fixture goes.
#pragma once

#include <windows.h>

#include <string>

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
  ~ScratchFolder() { Remove(path_); }

  const std::wstring& Path() const { return path_; }
  // A subfolder, made now.
  std::wstring Sub(const wchar_t* name) const {
    std::wstring sub = path_ + L"\\" + name;
    CreateDirectoryW(sub.c_str(), nullptr);
    return sub;
  }

 private:
  static void Remove(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Remove(folder + L"\\" + name);
        else
          DeleteFileW((folder + L"\\" + name).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring path_;
};
