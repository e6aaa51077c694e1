// The diagnostic log in the prefix's C:\screencapturelog, and the debugger lines.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/debug_output.h"
#include "tests/support/module_fixture.h"

namespace {

const wchar_t kLogFolder[] = L"C:\\screencapturelog";

void RemoveLogFolder() {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"C:\\screencapturelog\\*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") DeleteFileW((std::wstring(kLogFolder) + L"\\" + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(kLogFolder);
}

bool FolderExists() {
  DWORD attributes = GetFileAttributesW(kLogFolder);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The local date as the module names its file by it: yyyymmdd.
std::wstring Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t day[16];
  swprintf(day, 16, L"%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
  return day;
}

// C:\screencapturelog\NPAPI_<yyyymmdd>_<pid>.log, built independently of the module.
std::wstring LogPathFor(const std::wstring& day) {
  return std::wstring(kLogFolder) + L"\\NPAPI_" + day + L"_" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

// The dates of this process's log files in the folder (one file per date the module opened one on).
std::vector<std::wstring> LogFileDays() {
  std::vector<std::wstring> days;
  const std::wstring suffix = L"_" + std::to_wstring(GetCurrentProcessId()) + L".log";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(kLogFolder) + L"\\NPAPI_*" + suffix).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return days;
  do {
    std::wstring name = found.cFileName;
    std::wstring day = name.substr(6, name.size() - 6 - suffix.size());
    if (day.size() == 8 && day.find_first_not_of(L"0123456789") == std::wstring::npos) days.push_back(day);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return days;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class LogFile : public ModuleTest {
 protected:
  void SetUp() override {
    RemoveLogFolder();
    if (withFolder) CreateDirectoryW(kLogFolder, nullptr);
    dayAtStart = Today();
    ModuleTest::SetUp();
  }
  // The one log file this process has, named for a date between the test's
  // start and now (the date may change while a test runs); empty when there is none.
  std::wstring TheLogFile() {
    std::vector<std::wstring> days = LogFileDays();
    if (days.size() != 1) {
      ADD_FAILURE() << days.size() << " log files of this process, expected one";
      return L"";
    }
    EXPECT_TRUE(days[0] >= dayAtStart && days[0] <= Today())
        << "the log file is named for " << std::string(days[0].begin(), days[0].end()) << ", not for today";
    return LogPathFor(days[0]);
  }
  void TearDown() override {
    ModuleTest::TearDown();
    RemoveLogFolder();
  }
  bool withFolder = true;
  std::wstring dayAtStart;
};

class LogFolderMissing : public LogFile {
 protected:
  LogFolderMissing() { withFolder = false; }
};

TEST_F(LogFolderMissing, InstancesWorkAndNothingIsCreated) {
  NPP instance = NewInstance();
  EXPECT_NE(nullptr, instance->pdata);
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_FALSE(FolderExists());
}

TEST_F(LogFolderMissing, AFolderMadeLaterIsUsedByTheNextInitialisation) {
  CreateDirectoryW(kLogFolder, nullptr);
  DestroyInstance(NewInstance());
  EXPECT_TRUE(LogFileDays().empty()) << "a folder made after the initialisation is not used by it";
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  DestroyInstance(NewInstance());
  module->shutdown();
  module.reset();  // unloading closes the file
  EXPECT_EQ(2u, Lines(ReadAll(TheLogFile())).size());
}

TEST_F(LogFile, OneInstanceWritesTwoTimestampedLines) {
  DestroyInstance(NewInstance());
  module->shutdown();
  initialized = false;
  module.reset();

  std::string text = ReadAll(TheLogFile());
  // Text mode: every line ends with CR LF.
  EXPECT_EQ(std::string::npos, std::regex_replace(text, std::regex("\r\n"), "").find('\n'));
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(2u, lines.size()) << text;
  const std::regex stamp(R"(\[[0-2]\d:[0-5]\d:[0-5]\d \d{3}\] \[msg\] (.*)\r)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, stamp)) << lines[0];
  EXPECT_EQ("NPP_New", match[1].str());
  ASSERT_TRUE(std::regex_match(lines[1], match, stamp)) << lines[1];
  EXPECT_EQ("NPP_Destory", match[1].str());
}

TEST_F(LogFile, TheOpenFileIsNotSharedAndIsClosedAtUnload) {
  const std::wstring path = TheLogFile();
  ASSERT_FALSE(path.empty());
  HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  module->shutdown();  // shutting down keeps it open
  initialized = false;
  other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  module.reset();
  other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

TEST_F(LogFile, SecondInitialisationNeitherReopensNorTruncates) {
  DestroyInstance(NewInstance());
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  DestroyInstance(NewInstance());
  module->shutdown();
  module.reset();
  std::vector<std::string> lines = Lines(ReadAll(TheLogFile()));
  ASSERT_EQ(4u, lines.size());
  EXPECT_THAT(lines[2], ::testing::HasSubstr("] [msg] NPP_New\r"));
}

TEST_F(LogFile, AnExistingFileIsAppendedTo) {
  module->shutdown();
  initialized = false;
  module.reset();
  // The earlier line goes into the file named for today; should the date change
  // before the module opens its file, that file is another one and the test
  // goes once more (a date changes once a day).
  for (int attempt = 1; attempt <= 2; ++attempt) {
    RemoveLogFolder();
    ASSERT_TRUE(CreateDirectoryW(kLogFolder, nullptr));
    const std::wstring day = Today();
    {
      std::ofstream earlier(LogPathFor(day).c_str(), std::ios::binary | std::ios::app);
      earlier << "earlier line\r\n";
    }
    module.reset(new PluginModule());
    ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
    initialized = true;
    DestroyInstance(NewInstance());
    module->shutdown();
    initialized = false;
    module.reset();
    if (Today() != day && LogFileDays().size() == 2) continue;
    std::vector<std::string> lines = Lines(ReadAll(LogPathFor(day)));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("earlier line\r", lines[0]);
    EXPECT_EQ(1u, LogFileDays().size());
    return;
  }
  FAIL() << "the date changed twice within the test";
}

TEST_F(LogFile, TheScriptObjectLogsItsAllocationAndReleaseOnceEach) {
  NPP instance = NewInstance();
  NPObject* object = nullptr;
  ASSERT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object));
  NPObject* again = nullptr;
  ASSERT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &again));
  host.ReleaseObject(object);
  host.ReleaseObject(again);
  DestroyInstance(instance);
  module->shutdown();
  initialized = false;
  module.reset();
  std::vector<std::string> events;
  for (const auto& line : Lines(ReadAll(TheLogFile()))) events.push_back(line.substr(line.find("] [msg] ") + 8));
  EXPECT_THAT(events, ::testing::ElementsAre("NPP_New\r", "HalvoScriptObject Allocate\r", "NPP_Destory\r",
                                             "HalvoScriptObject Deallocate\r"));
}

TEST_F(LogFile, DebuggerLinesGoToTheDebuggerOnly) {
  DebugOutputCapture debugger;
  DestroyInstance(NewInstance());
  std::vector<std::string> lines = debugger.Lines();
  EXPECT_THAT(lines, ::testing::IsSupersetOf({"NPError HalvoPlugin::HalvoPlugin(void)\n", "NPError HalvoPlugin::Init\n",
                                              "NPError HalvoPlugin::~HalvoPlugin(void)\n"}));
  module->shutdown();
  initialized = false;
  module.reset();
  // The instance's own lines are in the file; the debugger's are not.
  std::string text = ReadAll(TheLogFile());
  EXPECT_THAT(text, ::testing::HasSubstr("] [msg] NPP_New\r\n"));
  EXPECT_EQ(std::string::npos, text.find("NPError"));
}

}  // namespace
