// The test engine's results and outs: failures chosen per method and call,
// and the lists, task information, texts and numbers it hands out.
#include "tests/test_engine_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/task_event_args.h"

namespace {

using namespace engine_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;


// ---- Results and error descriptions ----------------------------------------

class EngineResults : public EngineTest {};

TEST_F(EngineResults, AFailingSlotHandsItsDescriptionToTheCallersThread) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  engine.Fail(L"Download", L"DeleteDownload2", E_ACCESSDENIED, L"the task is locked");
  Bstr key(L"k");
  EXPECT_EQ(E_ACCESSDENIED, download->DeleteDownload2(key, key, 0));
  Ref<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IDownload));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IConfig));
  Ref<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.out()));
  BSTR description = nullptr, source = nullptr;
  GUID guid{};
  info->GetDescription(&description);
  info->GetSource(&source);
  info->GetGUID(&guid);
  EXPECT_STREQ(L"the task is locked", description);
  EXPECT_STREQ(L"transfer.Download", source);
  EXPECT_TRUE(guid == IID_IDownload);
  SysFreeString(description);
  SysFreeString(source);
  EXPECT_EQ(E_ACCESSDENIED, engine.Calls()[engine.Calls().size() - 4].result);
}

TEST_F(EngineResults, AFailureWithoutDescriptionLeavesTheThreadsErrorObjectAlone) {
  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  Ref<ICreateErrorInfo> stale;
  ASSERT_EQ(S_OK, CreateErrorInfo(stale.out()));
  stale->SetDescription(const_cast<LPOLESTR>(L"stale"));
  Ref<IErrorInfo> staleInfo;
  stale->QueryInterface(IID_IErrorInfo, staleInfo.outVoid());
  SetErrorInfo(0, staleInfo.get());
  engine.Fail(L"Config", L"SetUDPPort", E_FAIL);
  engine.Fail(L"Config", L"InterfaceSupportsErrorInfo", S_FALSE);
  EXPECT_EQ(E_FAIL, config->SetUDPPort(1));
  Ref<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, config->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IConfig));
  Ref<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.out()));
  EXPECT_EQ(staleInfo.get(), info.get());
}

TEST_F(EngineResults, SkipAndTimesChooseWhichCallsFail) {
  Ref<ISchedule> schedule;
  Create(L"transfer.Schedule", IID_ISchedule, schedule);
  engine.Fail(L"Schedule", L"StartupStep1", E_FAIL, nullptr, 1, 2);
  EXPECT_EQ(S_OK, schedule->StartupStep1());
  EXPECT_EQ(E_FAIL, schedule->StartupStep1());
  EXPECT_EQ(E_FAIL, schedule->StartupStep1());
  EXPECT_EQ(S_OK, schedule->StartupStep1());
  engine.Fail(L"Schedule", L"StartupStep2", E_ABORT, nullptr, 1);  // after one, every call
  EXPECT_EQ(S_OK, schedule->StartupStep2());
  EXPECT_EQ(E_ABORT, schedule->StartupStep2());
  EXPECT_EQ(E_ABORT, schedule->StartupStep2());
  EXPECT_EQ(S_OK, schedule->ShutdownStep());
}

TEST_F(EngineResults, ASuccessCodeFromARuleStillDoesTheWork) {
  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetUDPPort", 6881));
  engine.Fail(L"Config", L"GetUDPPort", S_FALSE);
  long port = 0;
  EXPECT_EQ(S_FALSE, config->GetUDPPort(&port));
  EXPECT_EQ(6881, port);
  engine.Fail(L"Config", L"GetDiskCache", E_FAIL);
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetDiskCache", 5));
  long size = 17;
  EXPECT_EQ(E_FAIL, config->GetDiskCache(&size));
  EXPECT_EQ(17, size);  // a failed call leaves its outs
}

TEST_F(EngineResults, CreationOfOneClassFailsWhenTold) {
  engine.Fail(L"Config", L"CreateInstance", E_OUTOFMEMORY);
  Ref<IConfig> config;
  EXPECT_EQ(E_OUTOFMEMORY, CreateByProgId(L"transfer.Config", IID_IConfig, config.outVoid()));
  EXPECT_EQ(nullptr, config.get());
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  EXPECT_EQ(0u, engine.ObjectCount(L"Config", false));
  EXPECT_EQ("Config.CreateInstance(nullptr, IConfig)", engine.Lines()[0]);
  EXPECT_EQ(E_OUTOFMEMORY, engine.Calls()[0].result);
}

TEST_F(EngineResults, TheConnectionSetupFailsAtTheStepTold) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  Ref<IConnectionPointContainer> container;
  TestEngineRule refuseOnce{L"Download", L"QueryInterface", &IID_IConnectionPointContainer, E_NOINTERFACE,
                            nullptr, 0, 1};
  ASSERT_EQ(S_OK, engine.AddRule(refuseOnce));
  Ref<IDispatch> dispatch;
  EXPECT_EQ(S_OK, download->QueryInterface(IID_IDispatch, dispatch.outVoid()));  // other identifiers answer
  EXPECT_EQ(E_NOINTERFACE, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  EXPECT_EQ(nullptr, container.get());
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  Ref<IConnectionPoint> point;
  engine.Fail(L"Download", L"FindConnectionPoint", E_UNEXPECTED, nullptr, 0, 1);
  EXPECT_EQ(E_UNEXPECTED, container->FindConnectionPoint(DIID_ITaskEvents, point.out()));
  EXPECT_EQ(nullptr, point.get());
  ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_ITaskEvents, point.out()));
  engine.Fail(L"ConnectionPoint", L"Advise", CONNECT_E_ADVISELIMIT);
  RecordingSink sink;
  DWORD cookie = 77;
  EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&sink, &cookie));
  EXPECT_EQ(0u, cookie);
  EXPECT_EQ(1, sink.References());
  ASSERT_TRUE(engine.Object(L"Download"));
  EXPECT_EQ(0u, engine.Object(L"Download")->sinks);
}

TEST_F(EngineResults, UnknownNamesAreRefused) {
  TestEngineRule rule{L"Download", L"NoSuchMethod", nullptr, E_FAIL, nullptr, 0, 0};
  EXPECT_EQ(E_INVALIDARG, engine.AddRule(rule));
  rule.object = L"Scheduler";
  rule.method = L"StartupStep1";
  EXPECT_EQ(E_INVALIDARG, engine.AddRule(rule));
  rule.object = L"Config";
  rule.method = L"Unused8";
  EXPECT_EQ(S_OK, engine.AddRule(rule));
  EXPECT_EQ(E_INVALIDARG, engine.SetOutNumber(L"GetPeerID", 1));
  EXPECT_EQ(E_INVALIDARG, engine.SetOutText(L"GetUDPPort", L"x"));
  EXPECT_EQ(E_INVALIDARG, engine.SetList(L"QueryTaskInfo", {}));
}

// ---- Out values -------------------------------------------------------------

class EngineOuts : public EngineTest {};

TEST_F(EngineOuts, ListsAreFreshArraysOfBstrVariantsWithNullItemsKept) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  ASSERT_EQ(S_OK, engine.SetList(L"ListWorkTasks", {std::wstring(L"k1"), std::nullopt, std::wstring(L"")}));
  VARIANT first, second;
  VariantInit(&first);
  VariantInit(&second);
  ASSERT_EQ(S_OK, download->ListWorkTasks(&first));
  ASSERT_EQ(S_OK, download->ListWorkTasks(&second));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&first));
  EXPECT_NE(V_ARRAY(&first), V_ARRAY(&second));
  SAFEARRAY* list = V_ARRAY(&first);
  EXPECT_EQ(1u, SafeArrayGetDim(list));
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(list, 1, &lower);
  SafeArrayGetUBound(list, 1, &upper);
  EXPECT_EQ(0, lower);
  EXPECT_EQ(2, upper);
  VARIANT* items = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(list, reinterpret_cast<void**>(&items)));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(VT_BSTR, V_VT(&items[i]));
  EXPECT_STREQ(L"k1", V_BSTR(&items[0]));
  EXPECT_EQ(nullptr, V_BSTR(&items[1]));
  ASSERT_NE(nullptr, V_BSTR(&items[2]));
  EXPECT_EQ(0u, SysStringLen(V_BSTR(&items[2])));
  SafeArrayUnaccessData(list);
  VariantClear(&first);
  VariantClear(&second);

  VARIANT finished;
  VariantInit(&finished);
  ASSERT_EQ(S_OK, download->ListFinishedTasks(&finished));  // never set: empty
  SafeArrayGetLBound(V_ARRAY(&finished), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&finished), 1, &upper);
  EXPECT_EQ(-1, upper - lower);
  VariantClear(&finished);
  EXPECT_EQ(3u, engine.Ledger().listsHandedOut);
  EXPECT_EQ(4u, engine.Ledger().itemsHandedOut);
}

TEST_F(EngineOuts, AListKeepsTheLowerBoundItWasGiven) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  ASSERT_EQ(S_OK, engine.SetList(L"ListFinishedTasks", {std::wstring(L"a"), std::wstring(L"b")}, 3));
  VARIANT list;
  VariantInit(&list);
  ASSERT_EQ(S_OK, download->ListFinishedTasks(&list));
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
  EXPECT_EQ(3, lower);
  EXPECT_EQ(4, upper);
  VARIANT item;
  VariantInit(&item);
  LONG index = 4;
  ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(&list), &index, &item));
  EXPECT_STREQ(L"b", V_BSTR(&item));
  VariantClear(&item);
  VariantClear(&list);
}

TEST_F(EngineOuts, TaskInfoIsAnsweredPerKeyAndAnUnknownKeyLeavesEveryPreset) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  TestEngineTaskInfo known{L"name", nullptr, L"", L"\x00fc", TRUE, 2, -5, INT64_MAX, 0xFFFFFFFFu};
  ASSERT_EQ(S_OK, engine.SetTaskInfo(L"k1", &known));
  TestEngineTaskInfo stateless{L"x", L"y", L"z", L"w", FALSE, 0, 1, 2, 3};
  ASSERT_EQ(S_OK, engine.SetTaskInfo(L"k2", &stateless));

  struct Outs {
    BSTR texts[4] = {nullptr, nullptr, nullptr, nullptr};
    BYTE state = 0xFF;
    LONGLONG number1 = 11, number2 = 12;
    ULONG number3 = 13;
    ~Outs() {
      for (BSTR text : texts) SysFreeString(text);
    }
  };
  auto query = [&](const wchar_t* key, Outs& outs) {
    Bstr keyText(key);
    return download->QueryTaskInfo(keyText, &outs.texts[0], &outs.texts[1], &outs.texts[2], &outs.state,
                                   &outs.number1, &outs.number2, &outs.number3, &outs.texts[3]);
  };
  Outs one, two, three;
  ASSERT_EQ(S_OK, query(L"k1", one));
  EXPECT_STREQ(L"name", one.texts[0]);
  EXPECT_EQ(nullptr, one.texts[1]);
  ASSERT_NE(nullptr, one.texts[2]);
  EXPECT_EQ(0u, SysStringLen(one.texts[2]));
  EXPECT_STREQ(L"\x00fc", one.texts[3]);
  EXPECT_EQ(2, one.state);
  EXPECT_EQ(-5, one.number1);
  EXPECT_EQ(INT64_MAX, one.number2);
  EXPECT_EQ(0xFFFFFFFFu, one.number3);

  ASSERT_EQ(S_OK, query(L"k2", two));
  EXPECT_EQ(0xFF, two.state);
  EXPECT_STREQ(L"w", two.texts[3]);
  EXPECT_EQ(3u, two.number3);

  ASSERT_EQ(S_OK, query(L"K1", three));  // keys compare exactly
  EXPECT_EQ(0xFF, three.state);
  EXPECT_EQ(nullptr, three.texts[0]);
  EXPECT_EQ(11, three.number1);
  EXPECT_EQ(13u, three.number3);
  EXPECT_EQ(7u, engine.Ledger().textsHandedOut);  // the null text is not a BSTR
}

TEST_F(EngineOuts, TextsAndNumbersComeOutAsSetAndOnlyThen) {
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  BSTR peer = reinterpret_cast<BSTR>(static_cast<intptr_t>(-1));  // uninitialised storage
  EXPECT_EQ(S_OK, config->GetPeerID(&peer));
  EXPECT_EQ(nullptr, peer);  // not set: a null BSTR
  EXPECT_THAT(engine.Lines().back(), HasSubstr("GetPeerID(out ptr)"));
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetPeerID", L"peer-1"));
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetIP", L""));
  BSTR ip = nullptr;
  EXPECT_EQ(S_OK, config->GetPeerID(&peer));
  EXPECT_EQ(S_OK, config->GetIP(&ip));
  EXPECT_STREQ(L"peer-1", peer);
  ASSERT_NE(nullptr, ip);
  EXPECT_EQ(0u, SysStringLen(ip));
  SysFreeString(peer);
  SysFreeString(ip);

  long upnp = 42;
  EXPECT_EQ(S_OK, config->GetUPnP(&upnp));
  EXPECT_EQ(42, upnp);  // not set: left as it was
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetUPnP", 1));
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"CreateDownload", 1));
  EXPECT_EQ(S_OK, config->GetUPnP(&upnp));
  EXPECT_EQ(1, upnp);
  BYTE created = 0;
  Bstr a(L"a");
  download->CreateDownload(a, a, a, a, 0, 0, &created);
  EXPECT_EQ(1, created);
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetBlockStatusList", L"0101"));
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetBlockStatusList", 4));
  BSTR blocks = nullptr;
  long count = 0;
  EXPECT_EQ(S_OK, download->GetBlockStatusList(a, &blocks, &count));
  EXPECT_STREQ(L"0101", blocks);
  EXPECT_EQ(4, count);
  SysFreeString(blocks);
}

}  // namespace
