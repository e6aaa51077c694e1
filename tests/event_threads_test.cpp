// Events from engine threads: the store changes on the event's thread, the
// page hears of it on the plug-in thread only, in the order the engine fired,
// with nothing lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::ElementsAre;

class EventThreads : public PluginEngineTest {
 protected:
  static void Fill(TaskEventArgs& event, int kind, const std::wstring& key) {
    event.SetNumber(task_event::kKind, kind);
    event.SetText(task_event::kKey, key.c_str());
    event.SetNumber(task_event::kState, 1);
  }
  void FireHere(int kind, const std::wstring& key) {
    TaskEventArgs event;
    Fill(event, kind, key);
    ASSERT_EQ(S_OK, engine.Fire(event.data(), TaskEventArgs::kCount));
  }
  uint32_t FireOnWorker(int kind, const std::wstring& key) {
    TaskEventArgs event;
    Fill(event, kind, key);
    return engine.FireOnWorker(event.data(), TaskEventArgs::kCount);
  }
  // The task key of a message: its third field.
  static std::string KeyOf(const std::string& text) {
    std::size_t second = text.find('|', text.find('|') + 1), third = text.find('|', second + 1);
    return text.substr(second + 1, third - second - 1);
  }
  // The task keys of the posted messages, in posting order.
  std::vector<std::string> PostedKeys() const {
    std::vector<std::string> keys;
    for (const auto& text : PostedMessages()) keys.push_back(KeyOf(text));
    return keys;
  }
  void PumpUntil(std::size_t messages) {
    for (int round = 0; round < 2000 && host.Calls("NPN_GetURL").size() < messages; ++round) {
      Pump();
      if (host.Calls("NPN_GetURL").size() < messages) Sleep(1);
    }
  }
};

TEST_F(EventThreads, AnEventOnThePluginThreadWithNothingWaitingIsPostedAtOnce) {
  FireHere(3, L"now");
  EXPECT_THAT(PostedKeys(), ElementsAre("now"));
}

TEST_F(EventThreads, WorkerEventsWaitForThePluginThreadAndKeepTheirOrder) {
  FireOnWorker(3, L"first");
  ASSERT_TRUE(engine.WaitForWorkers());
  FireOnWorker(3, L"second");
  ASSERT_TRUE(engine.WaitForWorkers());
  // Nothing reaches the host from an engine thread.
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
  // The store changed already, on the event's thread.
  EXPECT_EQ(2u, StoredTasks().size());
  // An event on the plug-in thread while older ones wait goes behind them.
  FireHere(3, L"third");
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
  Pump();
  EXPECT_THAT(PostedKeys(), ElementsAre("first", "second", "third"));
  for (const auto& call : host.Calls("NPN_GetURL")) EXPECT_EQ(host.PluginThread(), call.thread);
}

TEST_F(EventThreads, ManyThreadsAtOnceLoseNothing) {
  engine.HoldWorkers(true);
  std::set<std::string> fired;
  for (int i = 0; i < 40; ++i) {
    std::wstring key = L"w" + std::to_wstring(i);
    ASSERT_NE(0u, FireOnWorker(3, key));
    fired.insert(Utf8(key));
  }
  FireHere(3, L"plugin-thread");
  fired.insert("plugin-thread");
  engine.HoldWorkers(false);
  ASSERT_TRUE(engine.WaitForWorkers());
  PumpUntil(fired.size());
  std::vector<std::string> keys = PostedKeys();
  EXPECT_EQ(fired.size(), keys.size());
  EXPECT_EQ(fired, std::set<std::string>(keys.begin(), keys.end()));
  EXPECT_EQ(fired.size(), StoredTasks().size());
}

TEST_F(EventThreads, QueuedMessagesAreDroppedWhenTheElementGoes) {
  FireOnWorker(3, L"late");
  ASSERT_TRUE(engine.WaitForWorkers());
  DestroyElement();
  Pump();
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
}

// Thousands of events from engine threads while page script walks the store:
// no crash, no deadlock, and a store that matches the events.
TEST_F(EventThreads, StressWhileScriptWalksTheStore) {
  const int rounds = 25, perRound = 40;
  std::set<std::string> expected;
  std::size_t messages = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < perRound; ++i) {
      int task = (round * perRound + i) % 97;
      std::wstring key = L"t" + std::to_wstring(task);
      // Every seventh event finishes its task; the others are progress.
      bool finishes = (round * perRound + i) % 7 == 0;
      FireOnWorker(finishes ? 5 : 3, key);
      ++messages;
    }
    // Script walks the store while the workers run.
    StoredTasks();
    ASSERT_TRUE(engine.WaitForWorkers(60000)) << "deadlock in round " << round;
    Pump();
  }
  PumpUntil(messages);
  EXPECT_EQ(messages, host.Calls("NPN_GetURL").size());
  // Replay the events in the order the page heard of them: the store must agree.
  std::set<std::string> kept;
  for (const auto& text : PostedMessages()) {
    std::string kind = text.substr(0, text.find('|'));
    if (kind == "5")
      kept.erase(KeyOf(text));
    else
      kept.insert(KeyOf(text));
  }
  std::set<std::string> stored;
  for (const auto& record : StoredTasks()) stored.insert(record.substr(0, record.find('|')));
  EXPECT_EQ(kept, stored);
  std::vector<std::string> posted = PostedMessages();
  EXPECT_EQ(rounds * perRound / 7 + 1,
            std::count_if(posted.begin(), posted.end(), [](const std::string& t) { return t[0] == '5'; }));
}

// ---- teardown against an event on an engine thread ---------------------------

// Position of the first engine call matching, from `from` on; the log's size when there is none.
std::size_t Find(const std::vector<EngineCall>& calls, const wchar_t* method, std::size_t from = 0) {
  for (std::size_t i = from; i < calls.size(); ++i)
    if (calls[i].method == method) return i;
  return calls.size();
}

bool Logged(const TestEngine& engine, const wchar_t* method) {
  std::vector<EngineCall> calls = engine.Calls();
  return Find(calls, method) != calls.size();
}

// Waits for a condition, checking every millisecond, for at most `bound` milliseconds.
template <typename Condition>
bool WaitFor(Condition condition, DWORD bound) {
  for (DWORD start = GetTickCount(); !condition();) {
    if (GetTickCount() - start >= bound) return false;
    Sleep(1);
  }
  return true;
}

TEST_F(EventThreads, TeardownWaitsForAnEventInsideTheSinkBeforeReleasingTheEngine) {
  engine.ClearLog();
  // A finished task: the sink archives it through the Download object, and the
  // engine keeps that call waiting.
  engine.Hold(TestEngineHold_ArchiveTask, true);
  ASSERT_NE(0u, FireOnWorker(5, L"finishing"));
  ASSERT_TRUE(engine.WaitForHeld(TestEngineHold_ArchiveTask));
  // The event goes on once the module has disconnected and then had a second
  // to release anything under it (a release meanwhile is a fault of the engine
  // log; a module that does not wait releases at once after the disconnect).
  std::thread releaser([this] {
    bool disconnected = WaitFor([this] { return Logged(engine, L"Unadvise"); }, 30000);
    if (disconnected) WaitFor([this] { return !engine.Faults().empty(); }, 1000);
    engine.Hold(TestEngineHold_ArchiveTask, false);
  });
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  releaser.join();
  ASSERT_TRUE(engine.WaitForWorkers());
  EXPECT_TRUE(engine.Faults().empty()) << "an engine object was released under the event";
  std::vector<EngineCall> calls = engine.Calls();
  std::size_t unadvise = Find(calls, L"Unadvise"), archive = Find(calls, L"ArchiveTask"),
              release = Find(calls, L"Release", unadvise);
  ASSERT_LT(unadvise, calls.size());
  ASSERT_LT(archive, calls.size()) << "the held event never archived";
  // The log has a call when it returns: the archive ended after the
  // disconnect and before the first engine reference went.
  EXPECT_LT(unadvise, archive);
  EXPECT_LT(archive, release);
  EXPECT_EQ(0u, engine.ObjectCount());
  // The page was already going: it hears nothing of the event.
  Pump();
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
}

TEST_F(EventThreads, AnEventArrivingAfterTheDisconnectTouchesNothing) {
  // The engine takes the sink (with a reference) and calls it only after the
  // element is gone, as an engine thread that was about to fire does.
  engine.Hold(TestEngineHold_Invoke, true);
  uint32_t ticket = FireOnWorker(5, L"late");
  ASSERT_NE(0u, ticket);
  ASSERT_TRUE(engine.WaitForHeld(TestEngineHold_Invoke));
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_EQ(0u, engine.ObjectCount());
  engine.ClearLog();
  engine.Hold(TestEngineHold_Invoke, false);
  ASSERT_TRUE(engine.WaitForWorkers());
  HRESULT fired = E_FAIL;
  TestEngineFireResult result{};
  ASSERT_TRUE(engine.WorkerResult(ticket, &fired, &result));
  EXPECT_EQ(S_OK, fired);
  EXPECT_EQ(1u, result.sinks);
  EXPECT_EQ(S_OK, result.result);
  // Not archived through the instance's (released) Download object, nothing stored or posted.
  EXPECT_TRUE(engine.Calls().empty());
  Pump();
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
}

}  // namespace
