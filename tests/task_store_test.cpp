// The instance's task store: one place per key, order of first storing, and
// the walk that hands records to the page, the lock held only between calls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/linked_host.h"
#include "transfer/halvo_plugin.h"
#include "transfer/message_format.h"
#include "transfer/page_channel.h"

namespace {

_TaskParam Task(const wchar_t* key, uint8_t state = 5) {
  _TaskParam record;
  record.key = key;
  record.text1 = L"name";
  record.state = state;
  return record;
}

class TaskStore : public LinkedHostTest {
 protected:
  void SetUp() override {
    LinkedHostTest::SetUp();
    // No engine is registered in this process: the instance lives without one.
    plugin.Init(&npp, NP_EMBED, 0, nullptr, nullptr, nullptr);
    host.ClearCalls();
  }
  void TearDown() override {
    plugin.UnInit(nullptr);
    LinkedHostTest::TearDown();
  }

  // Keys in the order the page function received them.
  std::vector<std::wstring> Delivered(const std::function<void(const std::wstring&)>& during = nullptr) {
    std::vector<std::wstring> keys;
    NPObject* page = host.CreatePageFunction([&](const NPVariant* args, uint32_t, NPVariant*) {
      std::string escaped(args[0].value.stringValue.UTF8Characters, args[0].value.stringValue.UTF8Length);
      std::wstring text;
      for (std::size_t i = 0; i + 6 <= escaped.size(); i += 6)
        text += static_cast<wchar_t>(std::stoi(escaped.substr(i + 2, 4), nullptr, 16));
      keys.push_back(text.substr(0, text.find(L'|')));
      if (during) during(keys.back());
      return true;
    });
    plugin.DeliverTaskRecords(page);
    host.ReleaseObject(page);
    return keys;
  }

  NPP_t npp{};
  HalvoPlugin plugin;
};

using Keys = std::vector<std::wstring>;

TEST_F(TaskStore, KeysKeepTheOrderOfFirstStoringAndOnePlaceEach) {
  EXPECT_TRUE(plugin.StoreTask(Task(L"B")));
  EXPECT_TRUE(plugin.StoreTask(Task(L"A")));
  EXPECT_FALSE(plugin.StoreTask(Task(L"B", 2)));  // a later event for B replaces its record
  EXPECT_EQ((Keys{L"B", L"A"}), plugin.taskKeys);
  EXPECT_EQ(2, plugin.taskParams.at(L"B").state);
  EXPECT_EQ((Keys{L"B", L"A"}), Delivered());
}

TEST_F(TaskStore, RemovingErasesTheRecordAndItsKeyAndIgnoresUnknownKeys) {
  plugin.StoreTask(Task(L"A"));
  plugin.StoreTask(Task(L"B"));
  plugin.StoreTask(Task(L"A"));
  plugin.RemoveTask(L"unknown");
  plugin.RemoveTask(L"A");
  EXPECT_EQ((Keys{L"B"}), plugin.taskKeys);
  EXPECT_EQ(0u, plugin.taskParams.count(L"A"));
  EXPECT_TRUE(plugin.StoreTask(Task(L"A")));  // stored anew: goes to the end
  EXPECT_EQ((Keys{L"B", L"A"}), Delivered());
}

TEST_F(TaskStore, RemovingManyKeepsTheOthersInTheirOrder) {
  for (const wchar_t* key : {L"A", L"B", L"C", L"D", L"E"}) plugin.StoreTask(Task(key));
  plugin.RemoveTasks({L"D", L"unknown", L"A", L"D"});
  EXPECT_EQ((Keys{L"B", L"C", L"E"}), plugin.taskKeys);
  EXPECT_EQ(3u, plugin.taskParams.size());
  plugin.RemoveTasks({});
  EXPECT_EQ((Keys{L"B", L"C", L"E"}), Delivered());
}

TEST_F(TaskStore, ManyProgressEventsLeaveOneEntryPerTask) {
  for (int event = 0; event < 2000; ++event) plugin.StoreTask(Task(event % 2 ? L"x" : L"y"));
  EXPECT_EQ(2u, plugin.taskKeys.size());
  EXPECT_EQ(2u, Delivered().size());
}

TEST_F(TaskStore, DeliveredTextsAreTheEscapedRecordTexts) {
  plugin.StoreTask(Task(L"k\"1"));
  NPObject* page = host.CreatePageFunction([](const NPVariant*, uint32_t, NPVariant*) { return true; });
  plugin.DeliverTaskRecords(page);
  host.ReleaseObject(page);
  auto calls = host.Calls("NPN_InvokeDefault");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("string:" + EscapeForScript(FormatTaskRecordText(Task(L"k\"1"))), calls[0].args[3]);
  plugin.DeliverTaskRecords(nullptr);  // nothing to call
  EXPECT_EQ(1u, host.Calls("NPN_InvokeDefault").size());
}

TEST_F(TaskStore, APageFunctionStoringATaskOnTheSameThreadExtendsTheWalk) {
  plugin.StoreTask(Task(L"A"));
  Keys seen = Delivered([&](const std::wstring& key) {
    if (key == L"A") plugin.StoreTask(Task(L"B"));  // re-enters the lock
  });
  EXPECT_EQ((Keys{L"A", L"B"}), seen);
}

TEST_F(TaskStore, AnEventOnAnotherThreadIsNotHeldUpByThePageFunction) {
  // A page function runs as long as the page takes (the host waits for it):
  // the engine's event thread stores meanwhile, and the walk, which reads the
  // length again at every position, hands the new task on too.
  plugin.StoreTask(Task(L"A"));
  std::atomic<bool> stored{false};
  std::thread engine;
  Keys seen = Delivered([&](const std::wstring& key) {
    if (key != L"A") return;
    EXPECT_NE(GetCurrentThreadId(), static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(plugin.lock.OwningThread)))
        << "the walk holds the instance's lock while the page function runs";
    engine = std::thread([&] {
      plugin.StoreTask(Task(L"late"));
      stored = true;
    });
    for (ULONGLONG start = GetTickCount64(); !stored && GetTickCount64() - start < 10000;) Sleep(1);
    EXPECT_TRUE(stored.load()) << "the store from another thread waited for the page function";
  });
  engine.join();
  EXPECT_EQ((Keys{L"A", L"late"}), seen);
  EXPECT_EQ((Keys{L"A", L"late"}), plugin.taskKeys);
}

TEST_F(TaskStore, ANonCallableFunctionGetsEveryCallAndIsIgnored) {
  plugin.StoreTask(Task(L"A"));
  plugin.StoreTask(Task(L"B"));
  NPObject* plain = host.CreatePlainObject();
  plugin.DeliverTaskRecords(plain);
  host.ReleaseObject(plain);
  EXPECT_EQ(2u, host.Calls("NPN_InvokeDefault").size());
}

}  // namespace
