// ExecuteFile with real files and folders in the prefix. The module's import
// of ShellExecuteW is patched for the test (and the test stops if it cannot
// be): the call is recorded, nothing starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstring>

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

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

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
    for (const wchar_t* name : {L"\\f.txt", L"\\a, b.txt", L"\\\u00e9t\u00e9.txt"}) {
      HANDLE file = CreateFileW((Wide(kFolder) + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, file);
      CloseHandle(file);
    }
  }
  void TearDown() override {
    DeleteFileA((std::string(kFolder) + "\\f.txt").c_str());
    DeleteFileA((std::string(kFolder) + "\\a, b.txt").c_str());
    DeleteFileW((Wide(kFolder) + L"\\\u00e9t\u00e9.txt").c_str());
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

TEST_F(ExecuteFile, AnExistingFileIsAlwaysShownSelectedNeverOpened) {
  int status = -1;
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", NumberArg(1), &status));
  EXPECT_EQ(0, status);
  const ShellCall& call = shellCalls.back();
  EXPECT_EQ(nullptr, call.window);
  EXPECT_EQ(L"open", call.verb);
  EXPECT_EQ(L"explorer", call.file);
  EXPECT_TRUE(call.directoryNull);
  EXPECT_EQ(SW_SHOWNORMAL, call.show);
  // Without the select switch explorer would open the file: it runs a program or follows a link.
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", NumberArg(0)));
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt", BoolArg(false)));
  // A blank and a comma in the name stay inside the quotes.
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\a, b.txt\"", Run(std::string(kFolder) + "\\a, b.txt", NumberArg(0)));
  // A name outside ASCII arrives as its characters.
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\\u00e9t\u00e9.txt\"",
            Run(std::string(kFolder) + "\\\xc3\xa9t\xc3\xa9.txt", NumberArg(0)));
}

TEST_F(ExecuteFile, AnExistingFolderOpensOrIsSelectedInItsParent) {
  EXPECT_EQ(L"\"C:\\halvo files, test\\sub\"", Run(std::string(kFolder) + "\\sub", NumberArg(0)));
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\sub\"", Run(std::string(kFolder) + "\\sub", NumberArg(1)));
}

TEST_F(ExecuteFile, AMissingPathShowsItsFolderWithoutSelecting) {
  int status = -1;
  EXPECT_EQ(L"\"C:\\halvo files, test\"", Run(std::string(kFolder) + "\\gone.txt", NumberArg(1), &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ(L"\"C:\"", Run("C:\\gone.txt", NumberArg(1)));
  EXPECT_EQ(L"\"C:\\halvo-missing\"", Run("C:\\halvo-missing\\x.txt", NumberArg(1)));
  // The folder part of a missing path may be a file: it is shown selected, never opened.
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\f.txt\"", Run(std::string(kFolder) + "\\f.txt\\gone", NumberArg(0)));
}

TEST_F(ExecuteFile, SelectIsReadFromTheValueBytes) {
  EXPECT_EQ(L"/select, \"C:\\halvo files, test\\sub\"", Run(std::string(kFolder) + "\\sub", BoolArg(true)));
  EXPECT_EQ(L"\"C:\\halvo files, test\\sub\"", Run(std::string(kFolder) + "\\sub", BoolArg(false)));
}

// Only an absolute local path (a drive letter, a colon, a backslash, then the
// rest) reaches explorer; everything else answers 2 and starts nothing.
struct RefusedPath {
  const char* why;
  std::string path;
};

TEST_F(ExecuteFile, AnythingButAnAbsoluteLocalPathIsRefused) {
  const std::string file = std::string(kFolder) + "\\f.txt";
  const RefusedPath refused[] = {
      {"network path", "\\\\server\\share\\f.txt"},
      {"network path", "//server/share/f.txt"},
      {"network path", "\\/server/share"},
      {"network path", "/\\server"},
      {"device path", "\\\\?\\" + file},
      {"device path", "\\\\.\\PhysicalDrive0"},
      {"device path", "\\??\\C:\\windows"},
      {"forward slash", "C:/halvo/gone.txt"},
      {"forward slash", file + "/"},
      {"forward slash", "C:\\windows\\explorer.exe /root,C:\\"},
      {"percent sign", "C:\\%APPDATA%\\x"},
      {"percent sign", std::string(kFolder) + "\\f%2etxt"},
      {"second colon", file + ":stream"},
      {"second colon", "C:\\x\\shell:startup"},
      {"second colon", "C:\\http:\\\\evil.example"},
      {"double quote", "C:\\a\" /root,C:\\windows"},
      {"double quote", file + "\""},
      {"control character", "C:\\a\tb"},
      {"control character", "C:\\a\nb"},
      {"control character", "\x1b"},
      {"control character", "C:\\a\x7f"},
      {"control character", "C:\\a\xc2\x85"},  // U+0085, a C1 control
      {"inner NUL", file + std::string("\0\\..\\x", 7)},
      {"relative", "gone.txt"},
      {"relative", "halvo\\f.txt"},
      {"relative", ".\\f.txt"},
      {"relative", "..\\f.txt"},
      {"relative to the current drive", "\\halvo-missing\\x.txt"},
      {"relative to the drive's folder", "C:halvo\\f.txt"},
      {"no drive letter", "1:\\x"},
      {"too short", ""},
      {"too short", "C"},
      {"too short", "C:"},
      {"not UTF-8", "C:\\\xff\xfe.txt"},
      {"not UTF-8", "C:\\x\xc3"},          // a sequence cut short
      {"not UTF-8", "C:\\\xc0\xaf"},        // an overlong "/"
      {"not UTF-8", "C:\\\xed\xa0\x80"},    // a surrogate
  };
  for (const RefusedPath& c : refused) {
    shellCalls.clear();
    int status = Status("ExecuteFile", {StringArg(c.path.data(), static_cast<uint32_t>(c.path.size())), NumberArg(1)});
    EXPECT_EQ(2, status) << c.why << ": " << c.path;
    EXPECT_TRUE(shellCalls.empty()) << c.why << ": " << c.path;
  }
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
  // Without the patch the real shell would start and the test could not see it.
  ASSERT_TRUE(patch.Applied()) << "the module does not import ShellExecuteW";
  EXPECT_EQ(1, Status("ExecuteFile", {StringArg("C:\\windows"), NumberArg(1)}));
  // The path is checked before the engine, as every argument is.
  EXPECT_EQ(2, Status("ExecuteFile", {StringArg("\\\\server\\share"), NumberArg(1)}));
  EXPECT_TRUE(shellCalls.empty());
}

}  // namespace
