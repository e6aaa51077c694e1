// The engine interfaces' declarations against the engine's contract: every
// method at its virtual-table slot, read from the member pointers the
// compiler makes (for a virtual function, 1 + the byte offset of its slot).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <objbase.h>

#include "engine/engine_interfaces.h"

namespace {

template <typename Member>
long SlotOf(Member member) {
  struct Raw {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  };
  static_assert(sizeof(Member) == sizeof(Raw), "an Itanium-style member function pointer");
  Raw raw;
  std::memcpy(&raw, &member, sizeof raw);
  if ((raw.pointer & 1) == 0) return -1;  // not virtual
  return static_cast<long>((raw.pointer - 1) / sizeof(void*));
}

TEST(EngineInterfaces, ScheduleMethodsSitAtTheirSlots) {
  EXPECT_EQ(6, SlotOf(&ISchedule::Invoke));
  EXPECT_EQ(7, SlotOf(&ISchedule::StartupStep1));
  EXPECT_EQ(8, SlotOf(&ISchedule::StartupStep2));
  EXPECT_EQ(9, SlotOf(&ISchedule::ShutdownStep));
}

TEST(EngineInterfaces, ConfigMethodsSitAtTheirSlots) {
  EXPECT_EQ(7, SlotOf(&IConfig::SetProxy));
  EXPECT_EQ(9, SlotOf(&IConfig::SetUPnP));
  EXPECT_EQ(10, SlotOf(&IConfig::GetUPnP));
  EXPECT_EQ(11, SlotOf(&IConfig::SetLimitSpeed));
  EXPECT_EQ(12, SlotOf(&IConfig::GetLimitSpeed));
  EXPECT_EQ(13, SlotOf(&IConfig::SetDiskCache));
  EXPECT_EQ(14, SlotOf(&IConfig::GetDiskCache));
  EXPECT_EQ(15, SlotOf(&IConfig::SetMaxDownloadCount));
  EXPECT_EQ(16, SlotOf(&IConfig::GetMaxDownloadCount));
  EXPECT_EQ(17, SlotOf(&IConfig::SetAutoStart));
  EXPECT_EQ(18, SlotOf(&IConfig::GetAutoStart));
  EXPECT_EQ(19, SlotOf(&IConfig::SetUDPPort));
  EXPECT_EQ(20, SlotOf(&IConfig::GetUDPPort));
  EXPECT_EQ(21, SlotOf(&IConfig::SetDownloadSingleThread));
  EXPECT_EQ(22, SlotOf(&IConfig::GetDownloadSingleThread));
  EXPECT_EQ(23, SlotOf(&IConfig::GetPeerID));
  EXPECT_EQ(24, SlotOf(&IConfig::GetIP));
  EXPECT_EQ(25, SlotOf(&IConfig::SetClientVersion));
}

TEST(EngineInterfaces, DownloadMethodsSitAtTheirSlots) {
  EXPECT_EQ(7, SlotOf(&IDownload::StartupStep1));
  EXPECT_EQ(8, SlotOf(&IDownload::CreateDownload));
  EXPECT_EQ(9, SlotOf(&IDownload::StopDownload));
  EXPECT_EQ(10, SlotOf(&IDownload::DeleteDownload));
  EXPECT_EQ(11, SlotOf(&IDownload::GetBlockStatusList));
  EXPECT_EQ(12, SlotOf(&IDownload::GetResourceSize));
  EXPECT_EQ(14, SlotOf(&IDownload::SetCookie));
  EXPECT_EQ(15, SlotOf(&IDownload::ClearCookie));
  EXPECT_EQ(16, SlotOf(&IDownload::GetTotalDownloadSpeed));
  EXPECT_EQ(17, SlotOf(&IDownload::GetDownloadingCount));
  EXPECT_EQ(18, SlotOf(&IDownload::StartupStep2));
  EXPECT_EQ(21, SlotOf(&IDownload::CancelDownload));
  EXPECT_EQ(22, SlotOf(&IDownload::ImportTask));
  EXPECT_EQ(23, SlotOf(&IDownload::Move));
  EXPECT_EQ(25, SlotOf(&IDownload::ArchiveTask));
  EXPECT_EQ(26, SlotOf(&IDownload::ListWorkTasks));
  EXPECT_EQ(27, SlotOf(&IDownload::QueryTaskInfo));
  EXPECT_EQ(28, SlotOf(&IDownload::ListFinishedTasks));
  EXPECT_EQ(29, SlotOf(&IDownload::DeleteDownload2));
}

TEST(EngineInterfaces, IdentifiersAreTheEnginesOwn) {
  wchar_t text[40];
  auto spelled = [&](const GUID& guid) {
    StringFromGUID2(guid, text, 40);
    return std::wstring(text);
  };
  EXPECT_EQ(L"{051AB774-9AE7-455C-9B76-15E2B52FE5AB}", spelled(__uuidof(ISchedule)));
  EXPECT_EQ(L"{38CB9CE0-6B8D-4AA4-99E5-F1C418B100E6}", spelled(__uuidof(IConfig)));
  EXPECT_EQ(L"{3D00073A-EDC9-4E13-95AE-9D02FBCCD572}", spelled(__uuidof(IDownload)));
  EXPECT_EQ(L"{A8316529-806D-427F-BAF4-981214AD28A3}", spelled(DIID_ITaskEvents));
  EXPECT_TRUE(IID_ISchedule == __uuidof(ISchedule));
  EXPECT_TRUE(IID_IConfig == __uuidof(IConfig));
  EXPECT_TRUE(IID_IDownload == __uuidof(IDownload));
}

}  // namespace
