#include "tests/download_engine/engine_fixture.h"

#include <memory>

#include "tests/download_engine/scratch_folder.h"
#include "tests/support/engine_registration.h"

namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registration = std::make_unique<EngineRegistration>();
    ASSERT_TRUE(registration->Registered()) << registration->Problem();
    authority = std::make_unique<TrustedAuthority>(WindowsPathOf(TestDataPath("certs/ca.pem")));
    ASSERT_TRUE(authority->Trusted()) << "the test certificate authority could not be trusted";
    server = std::make_unique<LoopbackServer>();
    ASSERT_TRUE(server->Running()) << server->Problem();
  }
  void TearDown() override {
    server.reset();
    authority.reset();
    registration.reset();
  }
  std::unique_ptr<EngineRegistration> registration;
  std::unique_ptr<TrustedAuthority> authority;
  std::unique_ptr<LoopbackServer> server;
};

EngineEnvironment* environment =
    static_cast<EngineEnvironment*>(::testing::AddGlobalTestEnvironment(new EngineEnvironment()));

template <typename Interface>
void ReleaseAndClear(Interface*& object) {
  if (object) object->Release();
  object = nullptr;
}

}  // namespace

LoopbackServer& Server() { return *environment->server; }

std::wstring TakeBstr(BSTR text) {
  std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return result;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  std::string buffer(1 << 20, '\0');
  DWORD got = 0;
  while (ReadFile(file, &buffer[0], static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
    bytes.append(buffer.data(), got);
  CloseHandle(file);
  return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::vector<std::wstring> TakeList(VARIANT* list, std::string* fault) {
  std::vector<std::wstring> texts;
  if (list->vt != (VT_ARRAY | VT_VARIANT) || list->parray == nullptr) {
    *fault = "the list is not a SAFEARRAY of VARIANTs (vt " + std::to_string(list->vt) + ")";
    VariantClear(list);
    return texts;
  }
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(list->parray, 1, &lower);
  SafeArrayGetUBound(list->parray, 1, &upper);
  if (SafeArrayGetDim(list->parray) != 1 || lower != 0) *fault = "the list is not one-dimensional from 0";
  for (LONG i = lower; i <= upper; ++i) {
    VARIANT item;
    VariantInit(&item);
    SafeArrayGetElement(list->parray, &i, &item);
    if (item.vt != VT_BSTR) *fault = "a list element is not a BSTR";
    texts.push_back(item.vt == VT_BSTR && item.bstrVal ? std::wstring(item.bstrVal, SysStringLen(item.bstrVal))
                                                       : std::wstring());
    VariantClear(&item);
  }
  VariantClear(list);
  return texts;
}

std::vector<std::wstring> Fields(const std::wstring& text) {
  std::vector<std::wstring> fields(1);
  for (wchar_t c : text) {
    if (c == L'|') fields.emplace_back();
    else fields.back() += c;
  }
  return fields;
}

std::string EngineTest::Tuning() const {
  // Short time-outs keep the fault tests fast; retries are tested on their own.
  return "receive_timeout_ms=2000\nconnect_timeout_ms=2000\nretries=0\nretry_delay_ms=200\n";
}

void EngineTest::SetUp() {
  ASSERT_TRUE(Server().Running());
  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  home_ = std::wstring(temp) + L"halvo-engine-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  RemoveTree(home_);
  ASSERT_TRUE(CreateDirectoryW(home_.c_str(), nullptr));
  downloads_ = home_ + L"\\downloads";
  ASSERT_TRUE(CreateDirectoryW(downloads_.c_str(), nullptr));
  SetEnvironmentVariableW(L"HALVO_ENGINE_HOME", home_.c_str());
  std::string tuning = Tuning();
  WriteBytes(home_ + L"\\settings.txt", tuning);
  StartEngine();
}

void EngineTest::TearDown() {
  StopEngine();
  RemoveTree(home_);
  SetEnvironmentVariableW(L"HALVO_ENGINE_HOME", nullptr);
  if (comInitialized_) CoUninitialize();
}

void EngineTest::StartEngine() {
  CLSID clsid;
  ASSERT_EQ(S_OK, CLSIDFromProgID(kScheduleProgId, &clsid));
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISchedule,
                                   reinterpret_cast<void**>(&schedule)));
  ASSERT_EQ(S_OK, schedule->StartupStep1());
  ASSERT_EQ(S_OK, schedule->StartupStep2());
  ASSERT_EQ(S_OK, CLSIDFromProgID(kConfigProgId, &clsid));
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConfig,
                                   reinterpret_cast<void**>(&config)));
  Bstr agent(L"Chrome/21.0.1180.79 Safari/537.1 Corvane/1.0.2");
  ASSERT_EQ(S_OK, config->SetClientVersion(agent));
  ASSERT_EQ(S_OK, config->SetMaxDownloadCount(5));
  ASSERT_EQ(S_OK, config->SetAutoStart(autoStart));
  ASSERT_EQ(S_OK, CLSIDFromProgID(kDownloadProgId, &clsid));
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownload,
                                   reinterpret_cast<void**>(&download)));
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
  ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_ITaskEvents, &point));
  events = new EventCollector();
  events->ArchiveThrough(download);
  ASSERT_EQ(S_OK, point->Advise(events, &cookie));
  ASSERT_EQ(S_OK, download->StartupStep1());
  ASSERT_EQ(S_OK, download->StartupStep2());
}

void EngineTest::StopEngine() {
  if (schedule) {
    EXPECT_EQ(S_OK, schedule->ShutdownStep());
  }
  ReleaseAndClear(config);
  if (point) {
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
  }
  ReleaseAndClear(point);
  ReleaseAndClear(container);
  ReleaseAndClear(download);
  ReleaseAndClear(schedule);
  if (events) {
    for (const auto& fault : events->Faults()) ADD_FAILURE() << fault;
    for (HRESULT result : events->ArchiveResults()) EXPECT_EQ(S_OK, result) << "ArchiveTask";
    // Unadvise dropped the engine's reference: only ours is left.
    EXPECT_EQ(1, events->Refs());
    events->Release();
    events = nullptr;
  }
}

// What the task did say, so that a task that stalls can be told from one that never started.
std::string EngineTest::History(const std::wstring& key) const {
  std::string history = "now " + std::to_string(GetTickCount64()) + " ms; its events:";
  for (const auto& event : events->EventsFor(key))
    history += "\n  at " + std::to_string(event.atMs) + " ms: kind " + std::to_string(event.kind) + ", state " +
               std::to_string(event.state) + ", " + std::to_string(event.connections) + " connections, " +
               std::to_string(event.done) + " of " + std::to_string(event.size) + " bytes, " +
               std::to_string(event.speed) + " B/s " + std::string(event.message.begin(), event.message.end());
  return history;
}

BYTE EngineTest::Create(const std::wstring& url, const std::wstring& fileName, long connections, long flags) {
  return CreateIn(downloads_, url, fileName, connections, flags);
}

BYTE EngineTest::CreateIn(const std::wstring& folder, const std::wstring& url, const std::wstring& fileName,
                          long connections, long flags) {
  Bstr u(url), f(folder), n(fileName), r(L"");
  BYTE state = 0xEE;
  EXPECT_EQ(S_OK, download->CreateDownload(u, f, n, r, connections, flags, &state));
  return state;
}

void EngineTest::ExpectDownloaded(const std::wstring& key, const std::wstring& fileName, uint64_t size, unsigned seed,
                                  DWORD timeoutMs) {
  EngineEvent finish = events->WaitForFinish(key, timeoutMs);
  if (finish.key != key)
    FAIL() << "no finish event for the task within " << timeoutMs << " ms; " << History(key);
  ASSERT_EQ(6, finish.state) << "the task ended " << StateText(finish.state);
  EXPECT_EQ(1, finish.complete);
  EXPECT_EQ(static_cast<int64_t>(size), finish.size);
  EXPECT_EQ(Downloads(fileName), finish.path);
  std::string bytes = ReadBytes(Downloads(fileName));
  ASSERT_EQ(size, bytes.size()) << "file size";
  std::string expected = LoopbackServer::Content(size, seed);
  if (bytes != expected) {
    size_t at = 0;
    while (at < bytes.size() && bytes[at] == expected[at]) ++at;
    FAIL() << "the file differs from the server's bytes from offset " << at;
  }
  EXPECT_FALSE(Exists(Downloads(fileName) + L".part")) << "the partial file is left behind";
}

EngineEvent EngineTest::ExpectFailed(const std::wstring& key, DWORD timeoutMs) {
  EngineEvent failed = events->WaitForState(key, 4, timeoutMs);
  EXPECT_EQ(key, failed.key) << "the task did not fail";
  EXPECT_FALSE(failed.message.empty()) << "a failed task without a reason";
  return failed;
}

long EngineTest::DownloadingCount() {
  long count = -1;
  EXPECT_EQ(S_OK, download->GetDownloadingCount(&count));
  return count;
}

std::vector<std::wstring> EngineTest::WorkKeys() {
  VARIANT list;
  VariantInit(&list);
  EXPECT_EQ(S_OK, download->ListWorkTasks(&list));
  std::string fault;
  auto keys = TakeList(&list, &fault);
  EXPECT_EQ("", fault);
  return keys;
}

std::vector<std::wstring> EngineTest::FinishedTexts() {
  VARIANT list;
  VariantInit(&list);
  EXPECT_EQ(S_OK, download->ListFinishedTasks(&list));
  std::string fault;
  auto texts = TakeList(&list, &fault);
  EXPECT_EQ("", fault);
  return texts;
}

DWORD RunChildTest(const std::wstring& disabledTest) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(program) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + disabledTest;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
    ADD_FAILURE() << "cannot start the child test, error " << GetLastError();
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(child.hProcess, &code);
  else ADD_FAILURE() << "the child test did not end within 30 s";
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return code;
}
