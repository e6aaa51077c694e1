// halvo_host.exe --find-mime: the host finds its module through the keys
// browsers read (Software\MozillaPlugins of HKCU and HKLM), not through a
// path it is given. Each test registers copies of the probe module under
// keys of its own, runs the real host as a child process and reads which
// module it loaded from its "plugin" line.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/plugin_module.h"

namespace {

const char kType[] = "application/x-halvo-probe";
const wchar_t kPlugins[] = L"Software\\MozillaPlugins";

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A text field of the host's protocol ('a%20b) back to its bytes.
std::string ProtocolText(const std::string& field) {
  std::string text;
  for (std::size_t i = 1; i < field.size(); ++i) {
    if (field[i] == '%' && i + 2 < field.size()) {
      text += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      text += field[i];
    }
  }
  return text;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

// A folder of copies of the probe module, removed with everything in it.
class ProbeCopies {
 public:
  ProbeCopies() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"halvo-find-mime-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  ~ProbeCopies() {
    for (const auto& file : files_) DeleteFileW(file.c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  // A copy under its own name, so that the loaded path tells which key it came from.
  std::wstring Make(const std::wstring& name) {
    std::wstring path = folder_ + L"\\" + name;
    EXPECT_TRUE(CopyFileW((ProgramFolder() + L"probe_plugin.dll").c_str(), path.c_str(), FALSE));
    files_.push_back(path);
    return path;
  }
  const std::wstring& Folder() const { return folder_; }

 private:
  std::wstring folder_;
  std::vector<std::wstring> files_;
};

// One key under Software\MozillaPlugins, removed again (and the parent with
// it when nothing else is left there).
class PluginKey {
 public:
  PluginKey(HKEY hive, const std::wstring& name) : hive_(hive), name_(std::wstring(kPlugins) + L"\\" + name) {
    EXPECT_EQ(RegCreateKeyExW(hive_, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  ~PluginKey() {
    RegCloseKey(key_);
    RegDeleteTreeW(hive_, name_.c_str());
    RegDeleteKeyW(hive_, kPlugins);  // refused while other keys are there
  }
  PluginKey& Path(const std::wstring& path, DWORD type = REG_SZ) {
    RegSetValueExW(key_, L"Path", 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    return *this;
  }
  PluginKey& Type(const std::string& type) {
    HKEY sub;
    RegCreateKeyExW(key_, (L"MimeTypes\\" + Widen(type)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                    nullptr);
    RegCloseKey(sub);
    return *this;
  }

 private:
  HKEY hive_;
  std::wstring name_;
  HKEY key_ = nullptr;
};

struct HostRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> lines;

  std::vector<std::string> Starting(const std::string& word) const {
    for (const auto& line : lines)
      if (line.compare(0, word.size() + 1, word + " ") == 0) return Fields(line);
    return {};
  }
  // The path of the module it loaded, empty when none.
  std::string LoadedPath() const {
    std::vector<std::string> plugin = Starting("plugin");
    return plugin.size() > 1 ? ProtocolText(plugin[1]) : std::string();
  }
};

// Runs the host with these arguments, tells it to quit once ready, and keeps every line it wrote.
HostRun RunHost(const std::wstring& arguments) {
  HostRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite;
  EXPECT_TRUE(CreatePipe(&inRead, &inWrite, &inherit, 0));
  EXPECT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = L"\"" + ProgramFolder() + L"halvo_host.exe\" " + arguments;
  PROCESS_INFORMATION child = {};
  BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  EXPECT_TRUE(started);
  if (started) {
    // The host reads it after start-up; one that ended early just never reads it.
    DWORD written = 0;
    WriteFile(inWrite, "quit 1\n", 7, &written, nullptr);
  }
  CloseHandle(inWrite);
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  CloseHandle(outRead);
  if (started) {
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(child.hProcess, &run.exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  }
  std::size_t start = 0, end;
  while ((end = output.find('\n', start)) != std::string::npos) {
    std::string text = output.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    run.lines.push_back(text);
    start = end + 1;
  }
  return run;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring KeyName(const char* what) {
  return L"@halvo-test/" + Widen(what) + L",version=" + std::to_wstring(GetCurrentProcessId());
}

}  // namespace

TEST(FindMime, LoadsTheModuleNamedUnderTheMachineKeyAndSaysWhichKey) {
  ProbeCopies copies;
  std::wstring module = copies.Make(L"machine probe.dll");
  PluginKey key(HKEY_LOCAL_MACHINE, KeyName("machine"));
  key.Path(module).Type(kType);

  HostRun run = RunHost(L"--find-mime " + Widen(kType));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.LoadedPath(), Narrow(module));
  std::vector<std::string> note = run.Starting("note");
  ASSERT_GE(note.size(), 2u);
  EXPECT_NE(ProtocolText(note[1]).find("HKEY_LOCAL_MACHINE\\Software\\MozillaPlugins\\" + Narrow(KeyName("machine"))),
            std::string::npos)
      << ProtocolText(note[1]);
  EXPECT_FALSE(run.Starting("ready").empty());
}

TEST(FindMime, TheUsersKeyComesBeforeTheMachines) {
  ProbeCopies copies;
  std::wstring machine = copies.Make(L"machine.dll");
  std::wstring user = copies.Make(L"user.dll");
  PluginKey machineKey(HKEY_LOCAL_MACHINE, KeyName("both"));
  machineKey.Path(machine).Type(kType);
  PluginKey userKey(HKEY_CURRENT_USER, KeyName("both"));
  userKey.Path(user).Type(kType);

  HostRun run = RunHost(L"--find-mime " + Widen(kType));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.LoadedPath(), Narrow(user));
}

TEST(FindMime, KeysThatDoNotQualifyAreSkippedAndTypesMatchInAnyCase) {
  ProbeCopies copies;
  std::wstring good = copies.Make(L"good.dll");
  std::wstring other = copies.Make(L"other type.dll");
  // Each of these comes first (the user's keys) and must be passed over.
  PluginKey otherType(HKEY_CURRENT_USER, KeyName("a-other-type"));
  otherType.Path(other).Type("application/x-something-else");
  PluginKey missingFile(HKEY_CURRENT_USER, KeyName("b-missing-file"));
  missingFile.Path(copies.Folder() + L"\\not there.dll").Type(kType);
  PluginKey noPath(HKEY_CURRENT_USER, KeyName("c-no-path"));
  noPath.Type(kType);
  PluginKey folderPath(HKEY_CURRENT_USER, KeyName("d-folder"));
  folderPath.Path(copies.Folder()).Type(kType);
  PluginKey numberPath(HKEY_CURRENT_USER, KeyName("e-number"));
  numberPath.Type(kType);
  DWORD number = 7;
  HKEY numberKey;
  RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kPlugins) + L"\\" + KeyName("e-number")).c_str(), 0, KEY_SET_VALUE,
                &numberKey);
  RegSetValueExW(numberKey, L"Path", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(numberKey);
  PluginKey wanted(HKEY_LOCAL_MACHINE, KeyName("f-good"));
  wanted.Path(good).Type("Application/X-Halvo-Probe");

  HostRun run = RunHost(L"--find-mime " + Widen(kType));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.LoadedPath(), Narrow(good));
}

TEST(FindMime, APathWithEnvironmentVariablesIsExpanded) {
  ProbeCopies copies;
  std::wstring module = copies.Make(L"expanded.dll");
  SetEnvironmentVariableW(L"HALVO_FIND_MIME_DIR", copies.Folder().c_str());  // the child inherits it
  PluginKey key(HKEY_CURRENT_USER, KeyName("expand"));
  key.Path(L"%HALVO_FIND_MIME_DIR%\\expanded.dll", REG_EXPAND_SZ).Type(kType);

  HostRun run = RunHost(L"--find-mime " + Widen(kType));
  SetEnvironmentVariableW(L"HALVO_FIND_MIME_DIR", nullptr);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.LoadedPath(), Narrow(module));
}

TEST(FindMime, NothingRegisteredOrNoTypeGivenEndsWithAnErrorAndLoadsNothing) {
  ProbeCopies copies;
  std::wstring module = copies.Make(L"unrelated.dll");
  PluginKey unrelated(HKEY_LOCAL_MACHINE, KeyName("unrelated"));
  unrelated.Path(module).Type("application/x-unrelated");

  for (const std::wstring& arguments : {L"--find-mime " + Widen(kType), std::wstring(L"--find-mime")}) {
    HostRun run = RunHost(arguments);
    EXPECT_EQ(run.exitCode, 1u) << Narrow(arguments);
    EXPECT_EQ(run.LoadedPath(), "") << Narrow(arguments);
    ASSERT_FALSE(run.lines.empty()) << Narrow(arguments);
    EXPECT_EQ(run.lines.back().compare(0, 8, "error 0 "), 0) << run.lines.back();
    EXPECT_TRUE(run.Starting("ready").empty());
  }
}
