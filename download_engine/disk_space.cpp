#include "download_engine/disk_space.h"

#include <windows.h>

namespace engine {

bool FreeSpaceOf(const std::wstring& folderOrFile, uint64_t* bytes) {
  // The folder the path is in when it names a file (or a file not there yet).
  std::wstring folder = folderOrFile;
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    size_t cut = folder.find_last_of(L'\\');
    if (cut == std::wstring::npos) return false;
    folder.erase(cut == 2 ? 3 : cut);
  }
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free)) return false;
  *bytes = available.QuadPart;
  return true;
}

std::wstring NotEnoughSpace(int64_t needed, uint64_t free) {
  return L"not enough disk space: " + std::to_wstring(needed) + L" bytes needed, " + std::to_wstring(free) + L" free";
}

bool IsDiskFull(unsigned long code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

}  // namespace engine
