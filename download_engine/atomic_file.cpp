#include "download_engine/atomic_file.h"

#include <windows.h>

namespace engine {

unsigned long ReplaceFileContent(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".new";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = 0;
  size_t offset = 0;
  while (offset < bytes.size() && error == 0) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(bytes.size() - offset > (1u << 30) ? (1u << 30) : bytes.size() - offset);
    if (!WriteFile(file, bytes.data() + offset, chunk, &written, nullptr)) error = GetLastError();
    offset += written;
  }
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  CloseHandle(file);
  if (error == 0 &&
      !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != 0) DeleteFileW(temporary.c_str());
  return error;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  while (bytes->size() <= kMaxReadBytes && (ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) &&
         got > 0)
    bytes->append(buffer, got);
  CloseHandle(file);
  return ok;
}

}  // namespace engine
