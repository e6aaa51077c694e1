// The test engine proven as the plug-in will meet it: classes registered in
// the prefix, objects made through CLSIDFromProgID and CoCreateInstance, the
// control functions read from the same DLL loaded by the test. Here: the
// registration, and the objects' slots, identities and reference counts.
#include "tests/test_engine_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/task_event_args.h"

namespace {

using namespace engine_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// ---- Registration --------------------------------------------------------

class EngineRegistration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(EngineRegistration, ClassesAreFoundByProgIdWhileRegisteredAndGoneAfterwards) {
  {
    TestEngineRegistration registration;
    ASSERT_TRUE(registration.Succeeded());
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Download", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineDownload);
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Schedule", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineSchedule);
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Config", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineConfig);
    const std::wstring server = L"CLSID\\{D566D654-870E-4996-85F2-9979D6A34707}\\InprocServer32";
    EXPECT_EQ(TestEngineRegistration::EnginePath(), ReadValue(server, nullptr));
    EXPECT_EQ(L"Apartment", ReadValue(server, L"ThreadingModel"));
    Ref<IDownload> download;
    EXPECT_EQ(S_OK, CreateByProgId(L"transfer.Download", IID_IDownload, download.outVoid()));
  }
  CLSID clsid;
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(L"transfer.Download", &clsid));
  Ref<IDownload> download;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestEngineDownload, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IDownload, download.outVoid()));
  EXPECT_EQ(L"(missing)", ReadValue(L"CLSID\\{D566D654-870E-4996-85F2-9979D6A34707}", nullptr));
}

TEST_F(EngineRegistration, ClassesLeftOutAreMissingEvenAfterAnEarlierFullRegistration) {
  auto earlier = std::make_unique<TestEngineRegistration>();
  earlier.reset();
  auto everything = std::make_unique<TestEngineRegistration>();
  TestEngineRegistration withoutConfig(kScheduleClass | kDownloadClass);  // replaces the full one
  ASSERT_TRUE(withoutConfig.Succeeded());
  CLSID clsid;
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"transfer.Schedule", &clsid));
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"transfer.Download", &clsid));
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(L"transfer.Config", &clsid));
  everything.release();  // its destructor would remove the newer registration too
}

class EngineObjects : public EngineTest {};

TEST_F(EngineObjects, CreationThroughTheProgIdIsLoggedAndTheLastReleaseEndsTheObject) {
  {
    Ref<ISchedule> schedule;
    Ref<IConfig> config;
    Ref<IDownload> download;
    Create(L"transfer.Schedule", IID_ISchedule, schedule);
    Create(L"transfer.Config", IID_IConfig, config);
    Create(L"transfer.Download", IID_IDownload, download);
    EXPECT_EQ(3u, engine.ObjectCount());
    std::vector<EngineCall> calls = engine.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ("Schedule.CreateInstance(nullptr, ISchedule)", calls[0].Line());
    EXPECT_EQ(1u, calls[0].instance);
    EXPECT_EQ(S_OK, calls[0].result);
    EXPECT_EQ(1, engine.Object(L"Download")->references);
    engine.ClearLog();
  }
  EXPECT_EQ(0u, engine.ObjectCount());
  EXPECT_EQ(3u, engine.ObjectCount(nullptr, false));
  std::vector<std::string> lines = engine.Lines(true);
  EXPECT_THAT(lines, ElementsAre("Download.Destroy()", "Download.Release()", "Config.Destroy()", "Config.Release()",
                                 "Schedule.Destroy()", "Schedule.Release()"));
}

// Calls every own method of the three interfaces and checks the slot and
// name each was received at against the engine's contract.
TEST_F(EngineObjects, EveryMethodArrivesAtItsSlotWithItsArguments) {
  Ref<ISchedule> schedule;
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Schedule", IID_ISchedule, schedule);
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  Bstr a(L"a"), b(L"b"), c(L"c"), d(L"d"), e(L"e"), f(L"f"), g(L"g");
  long number = 0;
  BYTE byte = 0;
  BSTR text = nullptr;
  VARIANT list;
  VariantInit(&list);

  schedule->StartupStep1();
  schedule->StartupStep2();
  schedule->ShutdownStep();
  config->SetProxy(a, 8080, b, c, d, e);
  config->SetUPnP(1);
  config->GetUPnP(&number);
  config->SetLimitSpeed(100, -200);
  config->GetLimitSpeed(1, &number);
  config->SetDiskCache(3);
  config->GetDiskCache(&number);
  config->SetMaxDownloadCount(5);
  config->GetMaxDownloadCount(&number);
  config->SetAutoStart(0);
  config->GetAutoStart(&number);
  config->SetUDPPort(6881);
  config->GetUDPPort(&number);
  config->SetDownloadSingleThread(1);
  config->GetDownloadSingleThread(&number);
  config->GetPeerID(&text);
  config->GetIP(&text);
  config->SetClientVersion(a);
  download->StartupStep1();
  download->CreateDownload(a, b, c, d, 1, 2, &byte);
  download->StopDownload(a);
  download->DeleteDownload(a, 1);
  download->GetBlockStatusList(a, &text, &number);
  download->GetResourceSize(a, &number);
  download->SetCookie(a, 0);
  download->ClearCookie();
  download->GetTotalDownloadSpeed(&number);
  download->GetDownloadingCount(&number);
  download->StartupStep2();
  download->CancelDownload(a);
  download->ImportTask(a);
  download->Move(a, 255);
  download->ArchiveTask(1, a, 2, b, c, d, e, f, g, a, 3, 4, 0);
  download->ListWorkTasks(&list);
  VariantClear(&list);
  download->ListFinishedTasks(&list);
  VariantClear(&list);
  LONGLONG n1 = 0, n2 = 0;
  ULONG n3 = 0;
  BSTR t1 = nullptr, t2 = nullptr, t3 = nullptr, t4 = nullptr;
  byte = 0xFF;
  download->QueryTaskInfo(a, &t1, &t2, &t3, &byte, &n1, &n2, &n3, &t4);
  download->DeleteDownload2(a, b, 1);

  struct Expected {
    const char* object;
    const char* method;
    int slot;
  };
  const Expected expected[] = {
      {"Schedule", "StartupStep1", 7}, {"Schedule", "StartupStep2", 8}, {"Schedule", "ShutdownStep", 9},
      {"Config", "SetProxy", 7}, {"Config", "SetUPnP", 9}, {"Config", "GetUPnP", 10},
      {"Config", "SetLimitSpeed", 11}, {"Config", "GetLimitSpeed", 12}, {"Config", "SetDiskCache", 13},
      {"Config", "GetDiskCache", 14}, {"Config", "SetMaxDownloadCount", 15}, {"Config", "GetMaxDownloadCount", 16},
      {"Config", "SetAutoStart", 17}, {"Config", "GetAutoStart", 18}, {"Config", "SetUDPPort", 19},
      {"Config", "GetUDPPort", 20}, {"Config", "SetDownloadSingleThread", 21},
      {"Config", "GetDownloadSingleThread", 22}, {"Config", "GetPeerID", 23}, {"Config", "GetIP", 24},
      {"Config", "SetClientVersion", 25}, {"Download", "StartupStep1", 7}, {"Download", "CreateDownload", 8},
      {"Download", "StopDownload", 9}, {"Download", "DeleteDownload", 10}, {"Download", "GetBlockStatusList", 11},
      {"Download", "GetResourceSize", 12}, {"Download", "SetCookie", 14}, {"Download", "ClearCookie", 15},
      {"Download", "GetTotalDownloadSpeed", 16}, {"Download", "GetDownloadingCount", 17},
      {"Download", "StartupStep2", 18}, {"Download", "CancelDownload", 21}, {"Download", "ImportTask", 22},
      {"Download", "Move", 23}, {"Download", "ArchiveTask", 25}, {"Download", "ListWorkTasks", 26},
      {"Download", "ListFinishedTasks", 28}, {"Download", "QueryTaskInfo", 27}, {"Download", "DeleteDownload2", 29},
  };
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(sizeof expected / sizeof expected[0], calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(expected[i].object, std::string(calls[i].object.begin(), calls[i].object.end())) << i;
    EXPECT_EQ(expected[i].method, std::string(calls[i].method.begin(), calls[i].method.end())) << i;
    EXPECT_EQ(expected[i].slot, calls[i].slot) << expected[i].method;
    EXPECT_EQ(S_OK, calls[i].result) << expected[i].method;
    EXPECT_EQ(GetCurrentThreadId(), calls[i].thread);
  }
  EXPECT_EQ("Config.SetProxy(\"a\", 8080, \"b\", \"c\", \"d\", \"e\")", calls[3].Line());
  EXPECT_EQ("Config.SetLimitSpeed(100, -200)", calls[6].Line());
  EXPECT_EQ("Config.GetLimitSpeed(1, out 0)", calls[7].Line());
  EXPECT_EQ("Download.CreateDownload(\"a\", \"b\", \"c\", \"d\", 1, 2, out 0)", calls[22].Line());
  EXPECT_EQ("Download.Move(\"a\", 255)", calls[34].Line());
  EXPECT_EQ("Download.ArchiveTask(1, \"a\", 2, \"b\", \"c\", \"d\", \"e\", \"f\", \"g\", \"a\", 3, 4, 0)",
            calls[35].Line());
  EXPECT_EQ("Download.ListWorkTasks(out 0)", calls[36].Line());
  EXPECT_EQ(
      "Download.QueryTaskInfo(\"a\", out null, out null, out null, out 255, out 0, out 0, out 0, out null)",
      calls[38].Line());
}

TEST_F(EngineObjects, AHighSlotReachedThroughTheRawTableKeepsTextsExactly) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  // Slot 29 called by position, without the interface declaration.
  using DeleteDownload2 = HRESULT(STDMETHODCALLTYPE*)(IDownload*, BSTR, BSTR, long);
  auto slot29 = reinterpret_cast<DeleteDownload2>((*reinterpret_cast<void***>(download.get()))[29]);
  const wchar_t withNul[] = {L'k', 0, L'\x00e9', L'\x4e2d'};
  Bstr key(withNul, 4), empty(L"");
  EXPECT_EQ(S_OK, slot29(download.get(), key, nullptr, 1));
  EXPECT_EQ(S_OK, slot29(download.get(), empty, empty, 0));
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(29, calls[0].slot);
  EXPECT_EQ(std::wstring(withNul, 4), calls[0].args[0].text);
  EXPECT_EQ(TestEngineValue_NullText, calls[0].args[1].type);
  EXPECT_EQ("Download.DeleteDownload2(\"k\\u0000\\u00E9\\u4E2D\", null, 1)", calls[0].Line());
  EXPECT_EQ("Download.DeleteDownload2(\"\", \"\", 0)", calls[1].Line());
  EXPECT_EQ(TestEngineValue_Text, calls[1].args[1].type);

  Bstr a(L"a");
  download->ArchiveTask(0xFF, a, INT64_MIN, a, a, a, a, a, a, a, 0xFFFFFFFFu, 0x80, -1);
  EXPECT_EQ(INT64_MIN, engine.Calls().back().args[2].number);
  EXPECT_EQ("Download.ArchiveTask(255, \"a\", -9223372036854775808, \"a\", \"a\", \"a\", \"a\", \"a\", \"a\", "
            "\"a\", 4294967295, 128, -1)",
            engine.Calls().back().Line());
}

TEST_F(EngineObjects, PlaceholderAndDispatchSlotsAnswerNotImplementedAndAreLogged) {
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  EXPECT_EQ(E_NOTIMPL, config->Unused8());
  EXPECT_EQ(E_NOTIMPL, download->Unused13());
  EXPECT_EQ(E_NOTIMPL, download->Unused19());
  EXPECT_EQ(E_NOTIMPL, download->Unused20());
  EXPECT_EQ(E_NOTIMPL, download->Unused24());
  UINT count = 99;
  EXPECT_EQ(E_NOTIMPL, download->GetTypeInfoCount(&count));
  EXPECT_EQ(0u, count);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(E_NOTIMPL, download->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(8, calls[0].slot);
  EXPECT_EQ(13, calls[1].slot);
  EXPECT_EQ(19, calls[2].slot);
  EXPECT_EQ(20, calls[3].slot);
  EXPECT_EQ(24, calls[4].slot);
  EXPECT_EQ("Download.GetTypeInfoCount()", calls[5].Line());
  EXPECT_EQ(3, calls[5].slot);
  EXPECT_EQ(6, calls[6].slot);
  EXPECT_EQ(4, calls[6].args[0].number);
}

TEST_F(EngineObjects, InterfacesOfOneObjectShareItsIdentityAndCount) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  Ref<IConnectionPointContainer> container;
  Ref<ISupportErrorInfo> errorInfo;
  Ref<IUnknown> viaDownload, viaContainer;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  ASSERT_EQ(S_OK, download->QueryInterface(IID_ISupportErrorInfo, errorInfo.outVoid()));
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IUnknown, viaDownload.outVoid()));
  ASSERT_EQ(S_OK, container->QueryInterface(IID_IUnknown, viaContainer.outVoid()));
  EXPECT_EQ(viaDownload.get(), viaContainer.get());
  EXPECT_EQ(5, engine.Object(L"Download")->references);

  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  void* none = &none;  // anything: a refusal writes null
  EXPECT_EQ(E_NOINTERFACE, config->QueryInterface(IID_IConnectionPointContainer, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ("Config.QueryInterface(IConnectionPointContainer)", engine.Lines().back());
  EXPECT_EQ(E_NOINTERFACE, engine.Calls().back().result);
}

TEST_F(EngineObjects, ReferenceCountsFollowEveryAddRefAndRelease) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  TestEngineObjectInfo before = *engine.Object(L"Download");
  EXPECT_EQ(2u, download->AddRef());
  EXPECT_EQ(3u, download->AddRef());
  EXPECT_EQ(2u, download->Release());
  TestEngineObjectInfo after = *engine.Object(L"Download");
  EXPECT_EQ(2, after.references);
  EXPECT_EQ(before.addRefs + 2, after.addRefs);
  EXPECT_EQ(before.releases + 1, after.releases);
  EXPECT_EQ(1u, download->Release());
  EXPECT_TRUE(engine.Object(L"Download")->live);
}

TEST_F(EngineObjects, ACallAfterTheLastReleaseIsAFaultNotACrash) {
  IDownload* download = nullptr;
  ASSERT_EQ(S_OK, CreateByProgId(L"transfer.Download", IID_IDownload, reinterpret_cast<void**>(&download)));
  EXPECT_EQ(0u, download->Release());
  EXPECT_FALSE(engine.Object(L"Download")->live);
  EXPECT_EQ(E_UNEXPECTED, download->StartupStep1());
  EXPECT_EQ(0u, download->Release());
  std::vector<std::wstring> faults = engine.Faults();
  ASSERT_EQ(2u, faults.size());
  EXPECT_EQ(L"Download.StartupStep1 called after the object's last Release", faults[0]);
  EXPECT_EQ(0, engine.Object(L"Download")->references);
  engine.ClearFaults();  // they were the point
}

TEST_F(EngineObjects, ATextThatIsNotABstrIsReportedAsAFault) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  static const wchar_t literal[] = L"plain text";
  download->StopDownload(const_cast<BSTR>(literal));
  EngineCall call = engine.Calls().back();
  EXPECT_EQ("Download.StopDownload(!\"plain text\")", call.Line());
  ASSERT_EQ(1u, engine.Faults().size());
  EXPECT_EQ(L"Download.StopDownload: argument 1 is not a live BSTR", engine.Faults()[0]);
  // Any real BSTR passes, an odd byte length included.
  BSTR odd = SysAllocStringByteLen("abc", 3);
  download->StopDownload(odd);
  SysFreeString(odd);
  EXPECT_EQ(1u, engine.Calls().back().args[0].text.size());
  EXPECT_EQ(0u, engine.Calls().back().args[0].flags);
  EXPECT_EQ(1u, engine.Faults().size());
  engine.ClearFaults();  // it was the point
}

}  // namespace
