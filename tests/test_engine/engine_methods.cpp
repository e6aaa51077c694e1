#include "tests/test_engine/engine_methods.h"

#include <cwchar>

namespace {

struct Method {
  int32_t slot;
  const wchar_t* name;
};

// Slots 0 to 6 and the error-info, factory and destruction entries every class has.
constexpr Method kCommon[] = {
    {0, L"QueryInterface"}, {1, L"AddRef"},   {2, L"Release"},
    {3, L"GetTypeInfoCount"}, {4, L"GetTypeInfo"}, {5, L"GetIDsOfNames"}, {6, L"Invoke"},
    {3, L"InterfaceSupportsErrorInfo"},  // ISupportErrorInfo
    {3, L"CreateInstance"},              // IClassFactory
    {4, L"LockServer"},
    {-1, L"Destroy"},
};

constexpr Method kSchedule[] = {{7, L"StartupStep1"}, {8, L"StartupStep2"}, {9, L"ShutdownStep"}};

constexpr Method kConfig[] = {
    {7, L"SetProxy"},       {8, L"Unused8"},        {9, L"SetUPnP"},
    {10, L"GetUPnP"},       {11, L"SetLimitSpeed"}, {12, L"GetLimitSpeed"},
    {13, L"SetDiskCache"},  {14, L"GetDiskCache"},  {15, L"SetMaxDownloadCount"},
    {16, L"GetMaxDownloadCount"}, {17, L"SetAutoStart"}, {18, L"GetAutoStart"},
    {19, L"SetUDPPort"},    {20, L"GetUDPPort"},    {21, L"SetDownloadSingleThread"},
    {22, L"GetDownloadSingleThread"}, {23, L"GetPeerID"}, {24, L"GetIP"},
    {25, L"SetClientVersion"},
};

constexpr Method kDownload[] = {
    {7, L"StartupStep1"},   {8, L"CreateDownload"},  {9, L"StopDownload"},
    {10, L"DeleteDownload"}, {11, L"GetBlockStatusList"}, {12, L"GetResourceSize"},
    {13, L"Unused13"},      {14, L"SetCookie"},      {15, L"ClearCookie"},
    {16, L"GetTotalDownloadSpeed"}, {17, L"GetDownloadingCount"}, {18, L"StartupStep2"},
    {19, L"Unused19"},      {20, L"Unused20"},       {21, L"CancelDownload"},
    {22, L"ImportTask"},    {23, L"Move"},           {24, L"Unused24"},
    {25, L"ArchiveTask"},   {26, L"ListWorkTasks"},  {27, L"QueryTaskInfo"},
    {28, L"ListFinishedTasks"}, {29, L"DeleteDownload2"},
    // IConnectionPointContainer
    {3, L"EnumConnectionPoints"}, {4, L"FindConnectionPoint"},
};

constexpr Method kConnectionPoint[] = {
    {0, L"QueryInterface"}, {1, L"AddRef"}, {2, L"Release"},
    {3, L"GetConnectionInterface"}, {4, L"GetConnectionPointContainer"},
    {5, L"Advise"}, {6, L"Unadvise"}, {7, L"EnumConnections"},
};

struct Class {
  const wchar_t* object;
  const wchar_t* progId;
  const Method* methods;
  std::size_t count;
  bool common;
};

constexpr Class kClasses[] = {
    {L"Schedule", L"transfer.Schedule", kSchedule, sizeof kSchedule / sizeof kSchedule[0], true},
    {L"Config", L"transfer.Config", kConfig, sizeof kConfig / sizeof kConfig[0], true},
    {L"Download", L"transfer.Download", kDownload, sizeof kDownload / sizeof kDownload[0], true},
    {L"ConnectionPoint", L"transfer.Download", kConnectionPoint,
     sizeof kConnectionPoint / sizeof kConnectionPoint[0], false},
};

const Class* Find(const wchar_t* object) {
  if (object == nullptr) return nullptr;
  for (const Class& entry : kClasses)
    if (std::wcscmp(entry.object, object) == 0) return &entry;
  return nullptr;
}

}  // namespace

namespace engine_methods {

int32_t Slot(const wchar_t* object, const wchar_t* method) {
  const Class* entry = Find(object);
  if (entry == nullptr || method == nullptr) return -2;
  for (std::size_t i = 0; i < entry->count; ++i)
    if (std::wcscmp(entry->methods[i].name, method) == 0) return entry->methods[i].slot;
  if (entry->common)
    for (const Method& common : kCommon)
      if (std::wcscmp(common.name, method) == 0) return common.slot;
  return -2;
}

const wchar_t* ProgId(const wchar_t* object) {
  const Class* entry = Find(object);
  return entry != nullptr ? entry->progId : nullptr;
}

}  // namespace engine_methods
