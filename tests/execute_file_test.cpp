// ExecuteFile with real files and folders in the prefix. The module's import
// of ShellExecuteW is patched for the test: the call is recorded, nothing starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "tests/support/plugin_engine_fixture.h"
#include "tests/support/import_patch.h"

namespace {

struct ShellCall {
  HWND window;
  std::wstring verb, file, parameters;
  bool directoryNull;
  INT show;
};

std::vector<ShellCall> shellCalls;

HINSTANCE WINAPI RecordShellExecute(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                    INT show) {
  shellCalls.push_back({window, verb ? verb : L"(null)", file ? file : L"(null)",
                        parameters ? parameters : L"(null)", directory == nullptr, show});
  return reinterpret_cast<HINSTANCE>(42);
}

const char kFolder[] = "C:\\halvo files, test";

class ExecuteFile : public PluginEngineTest {
 protected:
  void SetUp() override {
    PluginEngineTest::SetUp();
    shellCalls.clear();
    patch.reset(new ImportPatch(module->Handle(), "shell32.dll", "ShellExecuteW",
                                reinterpret_cast<void*>(&RecordShellExecute)));
    ASSERT_TRUE(patch->Applied()) << "the module does not import ShellExecuteW";
    CreateDirectoryA(kFolder, nullptr);
    CreateDirectoryA((std::string(kFolder) + "\\sub").c_str(), nullptr);
    for (const char* name : {"\\f.txt", "\\a, b.txt"}) {
      HANDLE file = CreateFileA((std::string(kFolder) + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr);
      CloseHandle(file);
    }
  }
  void TearDown() override {
    DeleteFileA((std::string(kFolder) + "\\f.txt").c_str());
    DeleteFileA((std::string(kFolder) + "\\a, b.txt").c_str());
    RemoveDirectoryA((std::string(kFolder) + "\\sub").c_str());
    RemoveDirectoryA(kFolder);
    patch.reset();
    PluginEngineTest::TearDown();
  }
  // The parameters explorer got, or "(not started)".
  std::wstring Run(const std::string& path, NPVariant select, int* status = nullptr) {
    shellCalls.clear();
    int answer = Status("ExecuteFile", {StringArg(path.c_str()), select});
    if (status != nullptr) *status = answer;
    if (shellCalls.empty()) return L"(not started)";
    EXPECT_EQ(1u, shellCalls.size());
    return shellCalls.back().parameters;
  }
  std::unique_ptr<ImportPatch> patch;
};

TEST_F(ExecuteFile, AnExistingFileGoesToExplorerQuotedWithOrWithoutTheSelectSwitch) {
  int status = -1;
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", NumberArg(1), &status));
  EXPECT_EQ(0, status);
  const ShellCall& call = shellCalls.back();
  EXPECT_EQ(nullptr, call.window);
  EXPECT_EQ(L"open", call.verb);
  EXPECT_EQ(L"explorer", call.file);
  EXPECT_TRUE(call.directoryNull);
  EXPECT_EQ(SW_SHOWNORMAL, call.show);
  EXPECT_EQ(L"\"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", NumberArg(0)));
  // A blank and a comma in the name stay inside the quotes.
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\a, b.txt\"", Run(std::string(kFolder) + "\\a, b.txt", NumberArg(1)));
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\sub\"", Run(std::string(kFolder) + "\\sub", NumberArg(1)));
}

TEST_F(ExecuteFile, AMissingPathShowsItsFolderWithoutSelecting) {
  EXPECT_EQ(L"\"C:\\halvo files, test\"", Run(std::string(kFolder) + "\\gone.txt", NumberArg(1)));
  EXPECT_EQ(L"\"C:\"", Run("C:\\gone.txt", NumberArg(1)));
  EXPECT_EQ(L"", Run("gone.txt", NumberArg(1)));
  EXPECT_EQ(L"", Run("C:/halvo/gone.txt", NumberArg(1)));  // only the backslash separates
  EXPECT_EQ(L"", Run("", NumberArg(1)));
}

TEST_F(ExecuteFile, SelectIsReadFromTheValueBytes) {
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", BoolArg(true)));
  EXPECT_EQ(L"\"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", BoolArg(false)));
}

TEST_F(ExecuteFile, PathsThatCouldLeaveTheMachineOrTheQuotesAreRefused) {
  for (const char* path : {"\\\\server\\share\\f.txt", "//server/share/f.txt", "\\/server/share", "/\\server",
                           "\\\\?\\C:\\halvo files, test\\f.txt", "C:\\a\" /root,C:\\windows",
                           "C:\\halvo files, test\\f.txt\"", "C:\\a\tb", "C:\\a\nb", "\x1b"}) {
    int status = -1;
    EXPECT_EQ(L"(not started)", Run(path, NumberArg(1), &status)) << path;
    EXPECT_EQ(2, status) << path;
  }
  // One leading backslash is a path on the current drive, not a network path.
  int status = -1;
  Run("\\halvo-missing\\x.txt", NumberArg(1), &status);
  EXPECT_EQ(0, status);
}

TEST_F(ExecuteFile, WrongArgumentsStartNothing) {
  EXPECT_EQ(2, Status("ExecuteFile", {StringArg("C:\\")}));
  EXPECT_EQ(2, Status("ExecuteFile", {NumberArg(1), NumberArg(1)}));
  EXPECT_TRUE(shellCalls.empty());
}

class ExecuteFileWithoutEngine : public PluginEngineTest {
 protected:
  ExecuteFileWithoutEngine() : PluginEngineTest(0) {}
};

TEST_F(ExecuteFileWithoutEngine, AnswersEngineUnavailableAndStartsNothing) {
  shellCalls.clear();
  ImportPatch patch(module->Handle(), "shell32.dll", "ShellExecuteW", reinterpret_cast<void*>(&RecordShellExecute));
  EXPECT_EQ(1, Status("ExecuteFile", {StringArg("C:\\windows"), NumberArg(1)}));
  EXPECT_TRUE(shellCalls.empty());
}

}  // namespace
