// The test engine's connection point and events, and its ledger of the
// texts and lists it handed out.
#include "tests/test_engine_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/task_event_args.h"

namespace {

using namespace engine_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;


// ---- Connection point and events ---------------------------------------------

class EngineEvents : public EngineTest {
 protected:
  void Connect(RecordingSink& sink, DWORD* cookie) {
    Create(L"transfer.Download", IID_IDownload, download);
    ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_ITaskEvents, point.out()));
    ASSERT_EQ(S_OK, point->Advise(&sink, cookie));
  }
  void TearDown() override {
    point.Reset();
    container.Reset();
    download.Reset();
    EngineTest::TearDown();
  }

  Ref<IDownload> download;
  Ref<IConnectionPointContainer> container;
  Ref<IConnectionPoint> point;
};

TEST_F(EngineEvents, AdviseHoldsTheSinkUntilUnadviseWithItsCookie) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  EXPECT_NE(0u, cookie);
  EXPECT_EQ(2, sink.References());
  EXPECT_EQ(1u, engine.Object(L"Download")->sinks);
  IID iid{};
  EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
  EXPECT_TRUE(iid == DIID_ITaskEvents);
  Ref<IConnectionPoint> other;
  EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, other.out()));
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie + 1));
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  EXPECT_EQ(1, sink.References());
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
  std::vector<std::string> lines = engine.Lines();
  std::vector<std::string> expected = {"Download.QueryInterface(IConnectionPointContainer)",
                                       "Download.FindConnectionPoint(ITaskEvents)", "ConnectionPoint.Advise(ptr, out 0)",
                                       "ConnectionPoint.Unadvise(" + std::to_string(cookie) + ")"};
  EXPECT_THAT(lines, ::testing::IsSupersetOf(expected));
  // The connection point's references are its Download's.
  EXPECT_EQ(3, engine.Object(L"Download")->references);
}

TEST_F(EngineEvents, AnEventArrivesOnTheCallingThreadWithItsArgumentsInComOrder) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  TaskEventArgs args;
  args.SetNumber(task_event::kKind, 3);
  args.SetText(task_event::kKey, L"task-\x00e9");
  args.SetText(5, nullptr);
  args.SetNumber(task_event::kState, 5);
  args.SetReal(16, 0.5);
  args.SetNumber(22, INT64_MIN);
  args.SetNumber(23, 1234567890123LL);
  TestEngineFireResult result{};
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount, 42, &result));
  EXPECT_EQ(1u, result.sinks);
  EXPECT_EQ(S_OK, result.result);
  EXPECT_EQ(GetCurrentThreadId(), result.thread);
  EXPECT_FALSE(result.resultWritten);
  EXPECT_FALSE(result.exceptionWritten);
  EXPECT_FALSE(result.argErrorWritten);

  std::vector<RecordingSink::Invocation> invocations = sink.Invocations();
  ASSERT_EQ(1u, invocations.size());
  EXPECT_EQ(42, invocations[0].dispid);
  EXPECT_EQ(24u, invocations[0].count);
  EXPECT_EQ(0u, invocations[0].named);
  EXPECT_EQ(GetCurrentThreadId(), invocations[0].thread);
  const VARTYPE types[24] = {VT_UI1,  VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR,
                             VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_UI4,  VT_BSTR,
                             VT_R8,   VT_UI1,  VT_UI1,  VT_UI1,  VT_I4,   VT_UI4,  VT_I8,   VT_I8};
  for (unsigned i = 0; i < 24; ++i) EXPECT_EQ(types[i], V_VT(&sink.Arg(0, i))) << "index " << i;
  EXPECT_EQ(3, V_UI1(&sink.Arg(0, 0)));
  EXPECT_STREQ(L"task-\x00e9", V_BSTR(&sink.Arg(0, 2)));
  EXPECT_EQ(nullptr, V_BSTR(&sink.Arg(0, 5)));
  EXPECT_EQ(5, V_UI1(&sink.Arg(0, 19)));
  EXPECT_EQ(0.5, V_R8(&sink.Arg(0, 16)));
  EXPECT_EQ(INT64_MIN, V_I8(&sink.Arg(0, 22)));
  EXPECT_EQ(1234567890123LL, V_I8(&sink.Arg(0, 23)));

  sink.writeResult_ = true;
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount, 1, &result));
  EXPECT_TRUE(result.resultWritten);  // a sink that writes pVarResult is seen doing so
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(EngineEvents, ShortAndMissingArgumentArraysReachTheSinkAsGiven) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  TaskEventArgs args;
  VARIANT odd;
  V_VT(&odd) = 0x7FFF;  // no VARTYPE at all
  V_I4(&odd) = 9;
  args.Set(3, odd);
  ASSERT_EQ(S_OK, engine.Fire(args.data(), 5));
  ASSERT_EQ(S_OK, engine.Fire(nullptr, 24));
  ASSERT_EQ(S_OK, engine.Fire(nullptr, 0, -1));
  std::vector<RecordingSink::Invocation> invocations = sink.Invocations();
  ASSERT_EQ(3u, invocations.size());
  EXPECT_EQ(5u, invocations[0].count);
  EXPECT_EQ(0x7FFF, V_VT(&sink.Arg(0, 3)));
  EXPECT_TRUE(invocations[1].nullArray);
  EXPECT_EQ(24u, invocations[1].count);
  EXPECT_EQ(-1, invocations[2].dispid);
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  EXPECT_EQ(CONNECT_E_NOCONNECTION, engine.Fire(args.data(), 24));
  EXPECT_EQ(E_INVALIDARG, engine.Fire(args.data(), 24, 1, nullptr, 9));
}

TEST_F(EngineEvents, WorkerEventsArriveOnTheirOwnThreadWithTheirOwnCopies) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  uint32_t ticket = 0;
  {
    TaskEventArgs args;
    args.SetText(task_event::kKey, L"from a worker");
    engine.HoldWorkers(true);
    ticket = engine.FireOnWorker(args.data(), TaskEventArgs::kCount, 7);
    ASSERT_NE(0u, ticket);
    EXPECT_FALSE(engine.WorkerResult(ticket, nullptr, nullptr));  // still waiting
  }  // the test's values are gone before the worker fires
  engine.HoldWorkers(false);
  ASSERT_TRUE(engine.WaitForWorkers());
  HRESULT fired = E_FAIL;
  TestEngineFireResult result{};
  ASSERT_TRUE(engine.WorkerResult(ticket, &fired, &result));
  EXPECT_EQ(S_OK, fired);
  EXPECT_NE(GetCurrentThreadId(), result.thread);
  std::vector<RecordingSink::Invocation> invocations = sink.Invocations();
  ASSERT_EQ(1u, invocations.size());
  EXPECT_EQ(result.thread, invocations[0].thread);
  EXPECT_STREQ(L"from a worker", V_BSTR(&sink.Arg(0, 2)));
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(EngineEvents, SeveralWorkersDeliverAtTheSameTime) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  constexpr int kWorkers = 4;
  sink.MeetAt(kWorkers);
  TaskEventArgs args;
  engine.HoldWorkers(true);
  for (int i = 0; i < kWorkers; ++i) ASSERT_NE(0u, engine.FireOnWorker(args.data(), TaskEventArgs::kCount, i));
  engine.HoldWorkers(false);
  ASSERT_TRUE(engine.WaitForWorkers(60000));
  EXPECT_EQ(kWorkers, sink.MetAtBarrier()) << "invocations did not overlap: the engine serialised them";
  std::vector<RecordingSink::Invocation> invocations = sink.Invocations();
  ASSERT_EQ(static_cast<std::size_t>(kWorkers), invocations.size());
  std::set<DWORD> threads;
  for (const auto& invocation : invocations) threads.insert(invocation.thread);
  EXPECT_EQ(static_cast<std::size_t>(kWorkers), threads.size());
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(EngineEvents, AnEventGoesToTheChosenDownloadOrTheNewestLiveOne) {
  RecordingSink first, second;
  DWORD cookie = 0, otherCookie = 0;
  Connect(first, &cookie);
  Ref<IDownload> other;
  Create(L"transfer.Download", IID_IDownload, other);
  Ref<IConnectionPointContainer> otherContainer;
  Ref<IConnectionPoint> otherPoint;
  ASSERT_EQ(S_OK, other->QueryInterface(IID_IConnectionPointContainer, otherContainer.outVoid()));
  ASSERT_EQ(S_OK, otherContainer->FindConnectionPoint(DIID_ITaskEvents, otherPoint.out()));
  ASSERT_EQ(S_OK, otherPoint->Advise(&second, &otherCookie));
  EXPECT_NE(cookie, otherCookie);
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(otherCookie));  // a cookie belongs to its own point

  TaskEventArgs args;
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount, 1, nullptr, 1));
  EXPECT_EQ(1u, first.Invocations().size());
  EXPECT_EQ(0u, second.Invocations().size());
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount));
  EXPECT_EQ(1u, second.Invocations().size());
  EXPECT_EQ(S_OK, otherPoint->Unadvise(otherCookie));
  otherPoint.Reset();
  otherContainer.Reset();
  other.Reset();
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount));
  EXPECT_EQ(2u, first.Invocations().size());
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(EngineEvents, AdviseTakesTheEventInterfaceOrFallsBackToIDispatch) {
  RecordingSink plain(false);
  DWORD cookie = 0;
  Connect(plain, &cookie);
  EXPECT_EQ(2, plain.References());
  TaskEventArgs args;
  ASSERT_EQ(S_OK, engine.Fire(args.data(), TaskEventArgs::kCount));
  EXPECT_EQ(1u, plain.Invocations().size());
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  EXPECT_EQ(1, plain.References());
}

TEST_F(EngineEvents, ADownloadReleasedWithASinkStillAdvisedReleasesItAndSaysSo) {
  RecordingSink sink;
  DWORD cookie = 0;
  Connect(sink, &cookie);
  point.Reset();
  container.Reset();
  download.Reset();
  EXPECT_EQ(1, sink.References());
  std::vector<std::wstring> faults = engine.Faults();
  ASSERT_EQ(1u, faults.size());
  EXPECT_EQ(L"Download 1 reached its last Release with 1 sink(s) still advised", faults[0]);
  engine.ClearFaults();
}

// ---- Memory handed out ---------------------------------------------------------

class EngineLedger : public EngineTest {};

TEST_F(EngineLedger, ABstrTheCallerKeepsIsOutstandingUntilFreed) {
  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetIP", L"10.0.0.1"));
  TestEngineLedger start = engine.Ledger();
  ASSERT_TRUE(start.reliable);
  BSTR first = nullptr, second = nullptr;
  config->GetIP(&first);
  config->GetIP(&second);
  EXPECT_NE(first, second);  // a fresh BSTR per call
  EXPECT_EQ(2u, engine.Ledger().textsHandedOut);
  EXPECT_EQ(2u, engine.Ledger().textsOutstanding);
  SysFreeString(first);
  EXPECT_EQ(1u, engine.Ledger().textsOutstanding);
  BSTR unrelated = SysAllocString(L"the test's own");
  SysFreeString(unrelated);
  EXPECT_EQ(1u, engine.Ledger().textsOutstanding);
  SysFreeString(second);
  EXPECT_EQ(0u, engine.Ledger().textsOutstanding);
}

TEST_F(EngineLedger, AListAndItsItemsAreFollowedToTheirEnd) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  ASSERT_EQ(S_OK, engine.SetList(L"ListWorkTasks", {std::wstring(L"a"), std::nullopt, std::wstring(L"c")}));
  VARIANT list;
  VariantInit(&list);
  ASSERT_EQ(S_OK, download->ListWorkTasks(&list));
  TestEngineLedger held = engine.Ledger();
  EXPECT_EQ(1u, held.listsOutstanding);
  EXPECT_EQ(2u, held.itemsOutstanding);

  // Taking an item out and freeing only the array leaves that item behind.
  VARIANT* items = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(V_ARRAY(&list), reinterpret_cast<void**>(&items)));
  BSTR kept = V_BSTR(&items[2]);
  V_BSTR(&items[2]) = nullptr;
  SafeArrayUnaccessData(V_ARRAY(&list));
  VariantClear(&list);
  TestEngineLedger after = engine.Ledger();
  EXPECT_EQ(0u, after.listsOutstanding);
  EXPECT_EQ(1u, after.itemsOutstanding);
  SysFreeString(kept);
  EXPECT_EQ(0u, engine.Ledger().itemsOutstanding);
}

TEST_F(EngineLedger, TheCallersOwnTaskMemoryIsCountedToo) {
  TestEngineLedger start = engine.Ledger();
  BSTR mine = SysAllocString(L"made by the caller");
  TestEngineLedger held = engine.Ledger();
  EXPECT_EQ(start.taskOutstanding + 1, held.taskOutstanding);
  EXPECT_GT(held.taskAllocations, start.taskAllocations);
  SysFreeString(mine);
  EXPECT_EQ(start.taskOutstanding, engine.Ledger().taskOutstanding);
}

}  // namespace
