// Events from engine threads: the store changes on the event's thread, the
// page hears of it on the plug-in thread only, in the order the engine fired,
// with nothing lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::ElementsAre;

class EventThreads : public PluginEngineTest {
 protected:
  static void Fill(TaskEventArgs& event, int kind, const std::wstring& key) {
    event.SetNumber(TaskEventArgs::kKind, kind);
    event.SetText(TaskEventArgs::kKey, key.c_str());
    event.SetNumber(TaskEventArgs::kState, 1);
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
  for (const auto& call : host.Calls("NPN_GetURL")) EXPECT_EQ(host.pluginThread, call.thread);
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

}  // namespace
