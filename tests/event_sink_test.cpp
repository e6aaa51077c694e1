// Engine events through the real connection point: the sink's decision table,
// the archive call, the page messages, and events the sink must survive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ocidl.h>
#include <olectl.h>

#include "engine/engine_interfaces.h"
#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EventSink : public PluginEngineTest {
 protected:
  // An event with distinct values everywhere, so every field can be traced.
  void Fill(TaskEventArgs& event, int kind, const wchar_t* key, int state) {
    using namespace task_event;
    for (unsigned index = kFolder; index <= kStateName; ++index)
      if (index != kQueuePosition) event.SetText(index, (L"t" + std::to_wstring(index)).c_str());
    event.SetText(kKey, key);
    event.SetNumber(kKind, kind);
    event.SetNumber(kState, state);
    event.SetNumber(kQueuePosition, 14);
    event.SetReal(kPercent, 0.5);
    event.SetNumber(kConnections, 17);
    event.SetNumber(kComplete, 18);
    event.SetNumber(kErrorCode, -20);
    event.SetNumber(kSpeed, 21);
    event.SetNumber(kSize, -22);
    event.SetNumber(kDone, 23);
  }
  TestEngineFireResult Fire(int kind, const wchar_t* key, int state, DISPID dispid = 1) {
    TaskEventArgs event;
    Fill(event, kind, key, state);
    TestEngineFireResult result{};
    EXPECT_EQ(S_OK, engine.Fire(event.data(), TaskEventArgs::kCount, dispid, &result));
    return result;
  }
  static std::string Message(int kind, const char* key, int state) {
    return std::to_string(kind) + "|t1|" + key + "|t3|t4|t5|t6|t7|t8|t9|t10|t11|t12|t13|14|t15|0.5|17|18|" +
           std::to_string(state) + "|-20|21|-22|23";
  }
  static std::string Record(const char* key, int state) {
    return std::string(key) + "|t3|t1|t4|" + std::to_string(state) + "|18446744073709551594|23|21|t13|t15";
  }
  std::vector<std::string> ArchiveLines() {
    std::vector<std::string> lines;
    for (const auto& line : EngineLines())
      if (line.find("ArchiveTask") != std::string::npos) lines.push_back(line);
    return lines;
  }
};

TEST_F(EventSink, KindZeroKeepsARecordSilently) {
  Fire(0, L"k", 1);
  EXPECT_THAT(PostedMessages(), IsEmpty());
  EXPECT_THAT(StoredTasks(), ElementsAre(Record("k", 1)));
}

TEST_F(EventSink, KindThreeKeepsARecordAndPostsTheMessage) {
  Fire(3, L"k", 1);
  EXPECT_THAT(PostedMessages(), ElementsAre(Message(3, "k", 1)));
  Fire(3, L"k", 2);  // a progress event replaces the record; the task keeps its one place
  EXPECT_THAT(StoredTasks(), ElementsAre(Record("k", 2)));
}

TEST_F(EventSink, StateFiveKeepsARecordWhateverTheKindEvenFive) {
  Fire(7, L"a", 5);
  Fire(5, L"b", 5);
  EXPECT_THAT(ArchiveLines(), IsEmpty());
  EXPECT_THAT(PostedMessages(), ElementsAre(Message(7, "a", 5), Message(5, "b", 5)));
  EXPECT_THAT(StoredTasks(), ElementsAre(Record("a", 5), Record("b", 5)));
}

TEST_F(EventSink, KindFiveRemovesTheTaskAndArchivesItWithThirteenArguments) {
  Fire(3, L"k", 1);
  Fire(3, L"other", 1);
  Fire(5, L"k", 2);
  EXPECT_THAT(ArchiveLines(),
              ElementsAre("Download.ArchiveTask(17, \"t4\", -22, \"t10\", \"t11\", \"t12\", \"k\", \"t3\", \"t8\", "
                          "\"t9\", 21, 18, 0)"));
  EXPECT_THAT(PostedMessages(), ElementsAre(Message(3, "k", 1), Message(3, "other", 1), Message(5, "k", 2)));
  EXPECT_THAT(StoredTasks(), ElementsAre(Record("other", 1)));
}

TEST_F(EventSink, KindFiveForAnUnknownKeyStillArchivesAndPosts) {
  Fire(5, L"never-seen", 0);
  EXPECT_EQ(1u, ArchiveLines().size());
  EXPECT_EQ(1u, PostedMessages().size());
}

TEST_F(EventSink, OtherKindsOnlyPost) {
  Fire(7, L"k", 1);
  EXPECT_THAT(PostedMessages(), ElementsAre(Message(7, "k", 1)));
  EXPECT_THAT(StoredTasks(), IsEmpty());
  EXPECT_THAT(ArchiveLines(), IsEmpty());
}

TEST_F(EventSink, TheDispatchIdentifierMakesNoDifference) {
  Fire(3, L"a", 1, 1);
  Fire(3, L"b", 1, -12345);
  Fire(3, L"c", 1, 0);
  EXPECT_EQ(3u, PostedMessages().size());
  EXPECT_EQ(3u, StoredTasks().size());
}

TEST_F(EventSink, InvokeAnswersOkAndWritesNothingBack) {
  TestEngineFireResult result = Fire(3, L"k", 1);
  EXPECT_EQ(1u, result.sinks);
  EXPECT_EQ(S_OK, result.result);
  EXPECT_FALSE(result.resultWritten);
  EXPECT_FALSE(result.exceptionWritten);
  EXPECT_FALSE(result.argErrorWritten);
}

TEST_F(EventSink, DoubleQuotesArriveWithABackslashBeforeThem) {
  TaskEventArgs event;
  Fill(event, 3, L"say \"hi\"", 1);
  engine.Fire(event.data(), TaskEventArgs::kCount);
  ASSERT_EQ(1u, PostedMessages().size());
  EXPECT_EQ(0u, PostedMessages()[0].find("3|t1|say \\\"hi\\\"|t3"));
}

TEST_F(EventSink, AFailingArchiveIsSwallowedAndTheMessageStillPosted) {
  engine.Fail(L"Download", L"ArchiveTask", E_FAIL, L"archive is full");
  TestEngineFireResult result = Fire(5, L"k", 2);
  EXPECT_EQ(S_OK, result.result);
  EXPECT_EQ(1u, PostedMessages().size());
  Fire(3, L"next", 1);  // and the sink goes on
  EXPECT_EQ(2u, PostedMessages().size());
}

TEST_F(EventSink, ShortOrMissingArgumentListsAreIgnored) {
  TaskEventArgs event;
  Fill(event, 3, L"k", 1);
  TestEngineFireResult result{};
  // The first 23 values in COM order: one argument short.
  EXPECT_EQ(S_OK, engine.Fire(event.data(), 23, 1, &result));
  EXPECT_EQ(S_OK, result.result);
  EXPECT_EQ(S_OK, engine.Fire(nullptr, 24, 1, &result));
  EXPECT_EQ(S_OK, result.result);
  EXPECT_EQ(S_OK, engine.Fire(event.data(), 0, 1, &result));
  EXPECT_THAT(PostedMessages(), IsEmpty());
  EXPECT_THAT(StoredTasks(), IsEmpty());
}

TEST_F(EventSink, NullTextsAreEmptyAndNonTextsInTextPlacesAreNeverReadAsPointers) {
  TaskEventArgs event;
  Fill(event, 3, L"k", 1);
  event.SetText(task_event::kFolder, nullptr);
  VARIANT number;
  VariantInit(&number);
  V_VT(&number) = VT_I4;
  V_I4(&number) = 0x12345678;  // as a pointer this would crash
  event.Set(task_event::kUrl, number);
  VARIANT byReference;
  VariantInit(&byReference);
  V_VT(&byReference) = VT_I8;
  V_I8(&byReference) = 0x7FFFFFFFFFFF;
  event.Set(task_event::kMessage, byReference);
  EXPECT_EQ(S_OK, engine.Fire(event.data(), TaskEventArgs::kCount));
  ASSERT_EQ(1u, PostedMessages().size());
  EXPECT_EQ(0u, PostedMessages()[0].find("3||k||t4|"));
  EXPECT_THAT(StoredTasks(), ElementsAre("k|||t4|1|18446744073709551594|23|21||t15"));
}

TEST_F(EventSink, TheSinkAnswersQueriesForWhatItIsOnly) {
  IDispatch* sink = nullptr;
  for (const auto& call : engine.Calls())
    if (call.method == L"Advise") sink = reinterpret_cast<IDispatch*>(call.args.at(0).number);
  ASSERT_NE(nullptr, sink);
  for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &DIID_ITaskEvents}) {
    void* answer = nullptr;
    EXPECT_EQ(S_OK, sink->QueryInterface(*iid, &answer));
    EXPECT_EQ(static_cast<void*>(sink), answer);
    if (answer != nullptr) static_cast<IUnknown*>(answer)->Release();
  }
  // Saying yes to interfaces it does not implement would send calls to slots it lacks.
  for (const IID* iid : {&IID_IConnectionPointContainer, &IID_IMarshal, &IID_IDownload}) {
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, sink->QueryInterface(*iid, &answer));
    EXPECT_EQ(nullptr, answer);
  }
  // Counted as COM asks: the instance holds one reference and the engine's
  // connection another, so an engine that keeps the sink never reaches freed memory.
  EXPECT_EQ(3u, sink->AddRef());
  EXPECT_EQ(4u, sink->AddRef());
  EXPECT_EQ(3u, sink->Release());
  EXPECT_EQ(2u, sink->Release());
  UINT count = 77;
  EXPECT_EQ(E_NOTIMPL, sink->GetTypeInfoCount(&count));
  EXPECT_EQ(77u, count);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(E_NOTIMPL, sink->GetTypeInfo(0, 0, &info));
  // Still there after all that: events arrive.
  Fire(3, L"k", 1);
  EXPECT_EQ(1u, PostedMessages().size());
}

TEST_F(EventSink, EventsAfterTheElementIsGoneReachNothing) {
  DestroyElement();
  TaskEventArgs event;
  Fill(event, 3, L"k", 1);
  EXPECT_NE(S_OK, engine.Fire(event.data(), TaskEventArgs::kCount));  // no Download object, no sink
  EXPECT_THAT(PostedMessages(), IsEmpty());
}

}  // namespace
