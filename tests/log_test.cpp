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

// Today's name, built independently of the module: NPAPI_<yyyymmdd>_<pid>.log.
std::wstring ExpectedLogPath() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[MAX_PATH];
  swprintf(name, MAX_PATH, L"C:\\screencapturelog\\NPAPI_%04d%02d%02d_%lu.log", now.wYear, now.wMonth, now.wDay,
           GetCurrentProcessId());
  return name;
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
    ModuleTest::SetUp();
  }
  void TearDown() override {
    ModuleTest::TearDown();
    RemoveLogFolder();
  }
  bool withFolder = true;
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
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(ExpectedLogPath().c_str()));
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  DestroyInstance(NewInstance());
  module->shutdown();
  module.reset();  // unloading closes the file
  EXPECT_EQ(2u, Lines(ReadAll(ExpectedLogPath())).size());
}

TEST_F(LogFile, OneInstanceWritesTwoTimestampedLines) {
  DestroyInstance(NewInstance());
  module->shutdown();
  initialized = false;
  module.reset();

  std::string text = ReadAll(ExpectedLogPath());
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
  HANDLE other = CreateFileW(ExpectedLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  module->shutdown();  // shutting down keeps it open
  initialized = false;
  other = CreateFileW(ExpectedLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  module.reset();
  other = CreateFileW(ExpectedLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
  std::vector<std::string> lines = Lines(ReadAll(ExpectedLogPath()));
  ASSERT_EQ(4u, lines.size());
  EXPECT_THAT(lines[2], ::testing::HasSubstr("] [msg] NPP_New\r"));
}

TEST_F(LogFile, AnExistingFileIsAppendedTo) {
  module->shutdown();
  initialized = false;
  module.reset();
  {
    std::ofstream earlier(ExpectedLogPath().c_str(), std::ios::binary | std::ios::app);
    earlier << "earlier line\r\n";
  }
  module.reset(new PluginModule());
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  initialized = true;
  DestroyInstance(NewInstance());
  module->shutdown();
  initialized = false;
  module.reset();
  std::vector<std::string> lines = Lines(ReadAll(ExpectedLogPath()));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("earlier line\r", lines[0]);
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
  for (const auto& line : Lines(ReadAll(ExpectedLogPath()))) events.push_back(line.substr(line.find("] [msg] ") + 8));
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
  EXPECT_EQ(std::string::npos, ReadAll(ExpectedLogPath()).find("NPError"));
}

}  // namespace
