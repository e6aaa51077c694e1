// The engine as a COM server: its registration, its objects' interfaces and
// connection point, and how events reach sinks: from the engine's own thread,
// in order, to every connected sink, and never after Unadvise has returned.
#include <olectl.h>

#include <atomic>
#include <thread>

#include "tests/download_engine/engine_fixture.h"
#include "tests/support/engine_registration.h"
#include "tests/support/plugin_module.h"

namespace {

using ComServer = EngineTest;


std::wstring RegistryText(HKEY hive, const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t buffer[1024];
  DWORD size = sizeof buffer;
  if (RegGetValueW(hive, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return L"<none>";
  return buffer;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A sink that takes its time in Invoke, to catch an Unadvise that does not wait for it.
class SlowSink final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    if (gone) late = true;
    inside = true;
    ++calls;
    Sleep(300);
    inside = false;
    return S_OK;
  }
  std::atomic<ULONG> refs{1};
  std::atomic<bool> inside{false}, gone{false}, late{false};
  std::atomic<int> calls{0};
};

TEST_F(ComServer, RegistrationNamesThisDllWithApartmentThreadingUnderClassesRoot) {
  for (const wchar_t* progId : {kScheduleProgId, kConfigProgId, kDownloadProgId}) {
    std::wstring clsid = RegistryText(HKEY_CLASSES_ROOT, std::wstring(progId) + L"\\CLSID");
    ASSERT_NE(L"<none>", clsid);
    std::wstring server = L"CLSID\\" + clsid + L"\\InprocServer32";
    EXPECT_TRUE(SameFile(RegistryText(HKEY_CLASSES_ROOT, server), ProgramFolder() + L"halvo_engine.dll"));
    EXPECT_EQ(L"Apartment", RegistryText(HKEY_CLASSES_ROOT, server, L"ThreadingModel"));
    EXPECT_EQ(progId, RegistryText(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\ProgID"));
  }
}

TEST_F(ComServer, PerUserRegistrationGoesToTheUsersClassesAndComesOutAgain) {
  const std::wstring key = L"Software\\Classes\\transfer.Download\\CLSID";
  ASSERT_EQ(S_OK, EngineRegistration::CallInstall(L"halvo_engine.dll", TRUE, L"user"));
  std::wstring clsid = RegistryText(HKEY_CURRENT_USER, key);
  EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"transfer.Download\\CLSID"), clsid);
  EXPECT_NE(L"<none>",
            RegistryText(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel"));
  ASSERT_EQ(S_OK, EngineRegistration::CallInstall(L"halvo_engine.dll", FALSE, L"user"));
  EXPECT_EQ(L"<none>", RegistryText(HKEY_CURRENT_USER, key));
  EXPECT_EQ(E_INVALIDARG, EngineRegistration::CallInstall(L"halvo_engine.dll", TRUE, L"everyone"));
  EXPECT_EQ(clsid, RegistryText(HKEY_CLASSES_ROOT, L"transfer.Download\\CLSID")) << "the machine's registration stays";
}

TEST_F(ComServer, UnregisteringLeavesAProgIdThatAnotherServerHasTakenOver) {
  const std::wstring key = L"transfer.Config\\CLSID";
  std::wstring ours = RegistryText(HKEY_CLASSES_ROOT, key);
  const std::wstring other = L"{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, other.c_str(),
                                           static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))));
  EXPECT_EQ(S_OK, EngineRegistration::CallExport(L"halvo_engine.dll", "DllUnregisterServer"));
  EXPECT_EQ(other, RegistryText(HKEY_CLASSES_ROOT, key));
  EXPECT_EQ(L"<none>", RegistryText(HKEY_CLASSES_ROOT, L"transfer.Download\\CLSID"));
  EXPECT_EQ(S_OK, EngineRegistration::CallExport(L"halvo_engine.dll", "DllRegisterServer"));
  EXPECT_EQ(ours, RegistryText(HKEY_CLASSES_ROOT, key)) << "registering again takes it back";
}

TEST_F(ComServer, TheModuleStaysLoadedWhileObjectsLive) {
  HMODULE module = LoadLibraryW((ProgramFolder() + L"halvo_engine.dll").c_str());
  ASSERT_NE(nullptr, module);
  auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  EXPECT_EQ(S_FALSE, canUnload());
  StopEngine();
  EXPECT_EQ(S_OK, canUnload());
  FreeLibrary(module);
}

TEST_F(ComServer, ObjectsAnswerForTheirInterfacesOnly) {
  struct Probe {
    IUnknown* object;
    IID own;
  } probes[] = {{schedule, IID_ISchedule}, {config, IID_IConfig}, {download, IID_IDownload}};
  for (const auto& probe : probes) {
    for (IID iid : {IID_IUnknown, IID_IDispatch, probe.own, IID_ISupportErrorInfo}) {
      IUnknown* answer = nullptr;
      EXPECT_EQ(S_OK, probe.object->QueryInterface(iid, reinterpret_cast<void**>(&answer)));
      if (answer) answer->Release();
    }
    IUnknown* none = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE, probe.object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&none)));
    EXPECT_EQ(nullptr, none);
    IDispatch* dispatch = nullptr;
    probe.object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    UINT count = 7;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count) << "no type information: the interfaces are called through their tables";
    dispatch->Release();
  }
  IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
  EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &other));
  EXPECT_EQ(nullptr, other);
  IEnumConnectionPoints* all = nullptr;
  ASSERT_EQ(S_OK, container->EnumConnectionPoints(&all));
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, all->Next(2, listed, &fetched));
  ASSERT_EQ(1u, fetched);
  IID iid = {};
  EXPECT_EQ(S_OK, listed[0]->GetConnectionInterface(&iid));
  EXPECT_TRUE(IsEqualIID(DIID_ITaskEvents, iid));
  IConnectionPointContainer* back = nullptr;
  EXPECT_EQ(S_OK, listed[0]->GetConnectionPointContainer(&back));
  EXPECT_EQ(container, back);
  back->Release();
  listed[0]->Release();
  all->Release();
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 1000));
  DWORD unused = 0;
  EXPECT_EQ(E_POINTER, point->Advise(nullptr, &unused));
}

TEST_F(ComServer, EventsComeFromTheEnginesThreadInOrderToEverySink) {
  CLSID clsid;
  ASSERT_EQ(S_OK, CLSIDFromProgID(kDownloadProgId, &clsid));
  IDownload* second = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownload,
                                   reinterpret_cast<void**>(&second)));
  IConnectionPointContainer* secondContainer = nullptr;
  IConnectionPoint* secondPoint = nullptr;
  ASSERT_EQ(S_OK, second->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&secondContainer)));
  ASSERT_EQ(S_OK, secondContainer->FindConnectionPoint(DIID_ITaskEvents, &secondPoint));
  auto* other = new EventCollector();
  DWORD otherCookie = 0;
  ASSERT_EQ(S_OK, secondPoint->Advise(other, &otherCookie));

  std::wstring url = Server().DataUrl(400000, 100, L"order", L"rate=800000");
  Create(url, L"order.bin");
  ExpectDownloaded(url, L"order.bin", 400000, 100);
  ASSERT_EQ(url, other->WaitForFinish(url, 5000).key) << "the second object's sink hears the same task";
  auto mine = events->EventsFor(url);
  auto theirs = other->EventsFor(url);
  ASSERT_EQ(mine.size(), theirs.size());
  for (size_t i = 0; i < mine.size(); ++i) {
    EXPECT_EQ(mine[i].state, theirs[i].state);
    EXPECT_EQ(mine[i].done, theirs[i].done);
    EXPECT_NE(GetCurrentThreadId(), mine[i].thread) << "events come from the engine's own thread";
    EXPECT_EQ(mine[0].thread, mine[i].thread) << "one thread, so one order";
  }
  EXPECT_EQ(S_OK, secondPoint->Unadvise(otherCookie));
  EXPECT_EQ(1, other->Refs());
  for (const auto& fault : other->Faults()) ADD_FAILURE() << fault;
  other->Release();
  secondPoint->Release();
  secondContainer->Release();
  second->Release();
}

TEST_F(ComServer, UnadviseWaitsForAnEventBeingDeliveredAndNoneComesAfter) {
  SlowSink slow;
  DWORD slowCookie = 0;
  ASSERT_EQ(S_OK, point->Advise(&slow, &slowCookie));
  std::wstring url = Server().DataUrl(2000000, 101, L"unadvise", L"rate=500000");
  Create(url, L"unadvise.bin");
  for (int i = 0; i < 200 && !slow.inside; ++i) Sleep(10);
  ASSERT_TRUE(slow.inside) << "no event reached the slow sink";
  EXPECT_EQ(S_OK, point->Unadvise(slowCookie));
  EXPECT_FALSE(slow.inside) << "Unadvise returned while the sink was still being called";
  slow.gone = true;
  int calls = slow.calls;
  Sleep(1200);
  EXPECT_EQ(calls, slow.calls.load());
  EXPECT_FALSE(slow.late);
  EXPECT_EQ(1u, slow.refs.load()) << "the engine released the sink";
  Bstr key(url);
  download->DeleteDownload(key, 1);
}

TEST_F(ComServer, ArchiveTaskRecordsACompletedTaskOnceAndIgnoresOtherOutcomes) {
  WriteBytes(Downloads(L"given.bin"), std::string(42, 'x'));
  Bstr name(L"given.bin"), path(Downloads(L"given.bin")), finalUrl(L"http://x.example/given.bin"), type(L"text/plain"),
      key(L"http://x.example/given.bin"), created(L"2024-01-02T03:04:05Z"), finished(L"2024-01-02T03:05:06Z");
  ASSERT_EQ(S_OK, download->ArchiveTask(1, name, 42, path, finalUrl, type, key, key, created, finished, 7, 0, 0));
  EXPECT_TRUE(FinishedTexts().empty()) << "a removal is not archived";
  ASSERT_EQ(S_OK, download->ArchiveTask(1, name, 42, path, finalUrl, type, key, key, created, finished, 7, 1, 0));
  ASSERT_EQ(S_OK, download->ArchiveTask(1, name, 42, path, finalUrl, type, key, key, created, finished, 7, 1, 0));
  std::vector<std::wstring> texts = FinishedTexts();
  ASSERT_EQ(1u, texts.size()) << "the same record twice is one entry";
  std::vector<std::wstring> fields = Fields(texts[0]);
  ASSERT_EQ(13u, fields.size());
  EXPECT_EQ(L"given.bin", fields[3]);
  EXPECT_EQ(L"42", fields[5]);
  EXPECT_EQ(L"2024-01-02T03:05:06Z", fields[8]);
  EXPECT_EQ(Downloads(), fields[2]);
  EXPECT_EQ(L"2024-01-02T03:04:05Z", fields[12]);

  // Nothing that is not there as described: the list names what DeleteDownload2 may delete.
  Bstr elsewhere(Home() + L"\\settings.txt");
  EXPECT_EQ(E_INVALIDARG, download->ArchiveTask(1, name, 42, elsewhere, finalUrl, type, key, key, created, finished, 7, 1, 0));
  WriteBytes(Downloads(L"given.bin"), "changed since");
  ASSERT_EQ(S_OK, download->DeleteDownload2(key, path, 1));
  EXPECT_TRUE(FinishedTexts().empty());
  EXPECT_TRUE(Exists(Downloads(L"given.bin"))) << "a file that changed since it was downloaded is not deleted";
}

// Runs in a child process while the parent holds the engine open.
TEST(SecondProcess, DISABLED_OpensTheSameDataFolder) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CLSID clsid;
  ISchedule* schedule = nullptr;
  ASSERT_EQ(S_OK, CLSIDFromProgID(kScheduleProgId, &clsid));
  ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISchedule,
                                   reinterpret_cast<void**>(&schedule)));
  HRESULT result = schedule->StartupStep1();
  schedule->Release();
  ExitProcess(result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ? 5 : 6);
}

TEST_F(ComServer, ASecondProcessCannotOpenTheEngineWhileThisOneHasIt) {
  DWORD code = RunChildTest(L"SecondProcess.DISABLED_OpensTheSameDataFolder");
  EXPECT_EQ(5u, code) << "the second engine should refuse the data folder in use";
}

}  // namespace
