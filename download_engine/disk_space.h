// The disk a download goes to: how much room its volume has, and the one
// reason a task gives when its file does not fit.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// The Windows error a task reports for a full disk.
constexpr int32_t kDiskFullCode = 112;  // ERROR_DISK_FULL

// Bytes free for this user on the volume of the folder (or of a file's
// folder); false when Windows cannot tell.
bool FreeSpaceOf(const std::wstring& folderOrFile, uint64_t* bytes);

// "not enough disk space: N bytes needed, M free".
std::wstring NotEnoughSpace(int64_t needed, uint64_t free);

// A write failed because the volume is full.
bool IsDiskFull(unsigned long code);

}  // namespace engine
