// Where the bytes land: a volume too small for the file, a volume that fills
// up during a download (a real small file system: a tmpfs mounted for the
// test, which Wine sees as any other folder), long file names that must stay
// within the limit when counted, and the Zone.Identifier stream of a
// finished file.
#include <mutex>
#include <set>
#include <vector>

#include "tests/download_engine/task_fixture.h"
#include "tests/support/import_patch.h"

namespace {

std::string Text(const std::wstring& text) { return std::string(text.begin(), text.end()); }
bool Mentions(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// A tmpfs of a given size, mounted by a Linux shell for the life of the
// object (the tests run as root, as the test command does). Wine's own file
// calls reach it like any folder: its free space, and ENOSPC when it is full.
class SmallVolume {
 public:
  explicit SmallVolume(uint64_t bytes) {
    static int counter = 0;
    path_ = "/tmp/halvo-small-volume-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    mounted_ = Shell("mkdir -p " + path_ + " && mount -t tmpfs -o size=" + std::to_string(bytes) +
                     ",mode=0777 halvo-test " + path_);
  }
  ~SmallVolume() {
    if (mounted_) Shell("umount -l " + path_ + " && rmdir " + path_);
  }
  bool Mounted() const { return mounted_; }
  std::wstring Folder() const { return WindowsPathOf(path_); }

 private:
  // Runs the script and waits for it through a marker file (Wine cannot wait
  // for a Linux process); true when it succeeded.
  bool Shell(const std::string& script) {
    std::string marker = path_ + ".result";
    std::wstring markerPath = WindowsPathOf(marker);
    DeleteFileW(markerPath.c_str());
    std::string full = "(" + script + ") >/dev/null 2>&1 && echo ok >" + marker + " || echo failed >" + marker;
    std::wstring line = L"/bin/sh -c \"" + std::wstring(full.begin(), full.end()) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string result;
    for (int i = 0; i < 500 && result.empty(); ++i) {
      result = ReadBytes(markerPath);
      if (result.empty()) Sleep(20);
    }
    DeleteFileW(markerPath.c_str());
    return result == "ok\n";
  }

  std::string path_;
  bool mounted_ = false;
};

// Fills the folder's volume with a file until Windows says the disk is full.
bool FillUp(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string chunk(4096, 'f');
  DWORD written = 0;
  while (WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr) && written > 0) {
  }
  DWORD error = GetLastError();
  CloseHandle(file);
  return error == ERROR_DISK_FULL;
}

using FullDisk = TaskTest;

TEST_F(FullDisk, AFileThatCannotFitFailsAtOnceWithTheSpaceNeededAndFree) {
  SmallVolume volume(1 << 20);
  ASSERT_TRUE(volume.Mounted()) << "a 1 MiB tmpfs could not be mounted (the tests need root)";
  std::wstring url = Server().DataUrl(3 << 20, 120, L"nofit");
  CreateIn(volume.Folder(), url, L"big.bin");
  EngineEvent failed = ExpectFailed(url);
  EXPECT_EQ(L"not enough disk space: 3145728 bytes needed, 1048576 free", failed.message);
  EXPECT_EQ(112, failed.errorCode);
  EXPECT_FALSE(Exists(volume.Folder() + L"\\big.bin.part")) << "nothing written";
}

TEST_F(FullDisk, ADiskThatFillsUpFailsTheTaskKeepsItsBytesAndTheOtherTasksRunOn) {
  SmallVolume volume(2 << 20);
  ASSERT_TRUE(volume.Mounted()) << "a 2 MiB tmpfs could not be mounted (the tests need root)";
  const uint64_t size = 1536 * 1024;
  std::wstring onVolume = Server().DataUrl(size, 121, L"filling", L"slow_at=300000&paced=1");
  std::wstring elsewhere = Server().DataUrl(1 << 20, 122, L"elsewhere", L"rate=300000");
  CreateIn(volume.Folder(), onVolume, L"filling.bin");
  Create(elsewhere, L"elsewhere.bin");
  WaitForFileBytes(volume.Folder() + L"\\filling.bin.part", 300000);
  ASSERT_TRUE(FillUp(volume.Folder() + L"\\filler.bin")) << "the volume did not fill up";

  EngineEvent failed = ExpectFailed(onVolume);
  EXPECT_EQ(0u, failed.message.find(L"not enough disk space: ")) << Text(failed.message);
  EXPECT_TRUE(Mentions(failed.message, L" bytes needed, ")) << Text(failed.message);
  EXPECT_EQ(112, failed.errorCode);
  EngineEvent settled = Settled(onVolume, 4);
  ASSERT_GT(settled.done, 0);
  std::string partial = ReadBytes(volume.Folder() + L"\\filling.bin.part");
  ASSERT_GE(partial.size(), static_cast<size_t>(settled.done)) << "the partial file keeps what was counted";
  EXPECT_TRUE(partial.substr(0, static_cast<size_t>(settled.done)) == LoopbackServer::Content(settled.done, 121));

  ExpectDownloaded(elsewhere, L"elsewhere.bin", 1 << 20, 122);

  // Room again: the task resumes from its bytes and the file is whole.
  ASSERT_TRUE(DeleteFileW((volume.Folder() + L"\\filler.bin").c_str()));
  CreateIn(volume.Folder(), onVolume, L"");
  EngineEvent finished = events->WaitForFinish(onVolume, 20000);
  ASSERT_EQ(6, finished.state) << Text(finished.message);
  EXPECT_TRUE(ReadBytes(volume.Folder() + L"\\filling.bin") == LoopbackServer::Content(size, 121));
  std::string ranges = Server().Stats(L"filling")["ranges"];
  EXPECT_EQ(std::string::npos, ranges.find(",none")) << "resumed, not started over: " << ranges;
}

using LongFileNames = TaskTest;

TEST_F(LongFileNames, ATakenNameOfTheLongestLengthIsCountedWithinTheLimit) {
  // The longest name the download folder allows: the path with ".part" stays below MAX_PATH.
  size_t longest = std::min<size_t>(250, MAX_PATH - 1 - 5 - (Downloads().size() + 1));
  std::wstring name = std::wstring(longest - 4, L'n') + L".bin";
  WriteBytes(Downloads(name), "the user's own file");
  std::wstring url = Server().DataUrl(5000, 123, L"long");
  Create(url, name);
  EngineEvent finished = events->WaitForFinish(url, 15000);
  ASSERT_EQ(6, finished.state) << Text(finished.message);
  std::wstring chosen = ChosenName(url);
  EXPECT_LE(chosen.size(), longest);
  EXPECT_EQ(L" (1).bin", chosen.substr(chosen.size() - 8));
  EXPECT_TRUE(ReadBytes(Downloads(chosen)) == LoopbackServer::Content(5000, 123));
  EXPECT_EQ("the user's own file", ReadBytes(Downloads(name))) << "never overwritten";
}

// The engine's calls to the system, seen through its import table: the
// volume claims named streams (Wine's file system has none), and the stream's
// file goes to a file of its own for the test to read.
std::mutex recordLock;
std::vector<std::wstring> streamOpens;
std::wstring streamRecorder;
using CreateFileWFunction = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

HANDLE WINAPI RecordingCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  static auto real = reinterpret_cast<CreateFileWFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFileW")));
  std::wstring text = name ? name : L"";
  const std::wstring stream = L":Zone.Identifier";
  if (text.size() > stream.size() && text.compare(text.size() - stream.size(), stream.size(), stream) == 0) {
    std::lock_guard<std::mutex> hold(recordLock);
    streamOpens.push_back(text);
    return real(streamRecorder.c_str(), access, share, security, disposition, flags, templateFile);
  }
  return real(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI VolumeWithNamedStreams(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
  if (flags) *flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK | FILE_NAMED_STREAMS;
  return TRUE;
}

using ZoneIdentifierStream = TaskTest;

TEST_F(ZoneIdentifierStream, WithoutNamedStreamsTheDownloadCompletesAndNoStrayFileAppears) {
  std::wstring url = Server().DataUrl(4000, 124, L"zone-plain");
  CreateWithReferrer(url, L"plain.exe", L"http://pages.example/list");
  ExpectDownloaded(url, L"plain.exe", 4000, 124);
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((Downloads() + L"\\*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  do {
    if (found.cFileName[0] != L'.') names.insert(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(std::set<std::wstring>{L"plain.exe"}, names) << "Wine would make \"plain.exe:Zone.Identifier\" a file";
}

TEST_F(ZoneIdentifierStream, WhereTheVolumeHasNamedStreamsTheFinishedFileGetsItsOrigin) {
  HMODULE engine = GetModuleHandleW(L"halvo_engine.dll");
  ASSERT_NE(nullptr, engine);
  streamRecorder = Downloads(L"recorded-stream.txt");
  streamOpens.clear();
  {
    ImportPatch volume(engine, "KERNEL32.dll", "GetVolumeInformationByHandleW",
                       reinterpret_cast<void*>(&VolumeWithNamedStreams));
    ImportPatch create(engine, "KERNEL32.dll", "CreateFileW", reinterpret_cast<void*>(&RecordingCreateFileW));
    ASSERT_TRUE(volume.Applied() && create.Applied());
    std::wstring url = Server().DataUrl(4000, 125, L"zone");
    std::wstring start = Server().Url(L"/redirect?to=" + QueryValue(url));
    CreateWithReferrer(start, L"setup.exe", L"http://pages.example/list?user=me");
    EngineEvent finished = events->WaitForFinish(start, 15000);
    ASSERT_EQ(6, finished.state) << Text(finished.message);
    EXPECT_TRUE(ReadBytes(Downloads(L"setup.exe")) == LoopbackServer::Content(4000, 125));
    std::lock_guard<std::mutex> hold(recordLock);
    ASSERT_EQ(std::vector<std::wstring>{Downloads(L"setup.exe") + L":Zone.Identifier"}, streamOpens)
        << "one stream, on the finished file (not on the partial one)";
    EXPECT_EQ("[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=http://pages.example/list?user=me\r\nHostUrl=" +
                  Text(url) + "\r\n",
              ReadBytes(streamRecorder))
        << "the host is where the bytes came from, after the redirect";
  }
}

}  // namespace
