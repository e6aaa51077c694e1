// Every script method against the registered engine: the engine call each one
// makes with its arguments as the engine received them, the task lists handed
// to page functions, and every engine call failing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// "é" as UTF-8, and what the system's ANSI code page makes of those two bytes.
const char kE[] = "\xC3\xA9";
std::string AnsiOfE() {
  wchar_t decoded[8] = {};
  MultiByteToWideChar(CP_ACP, 0, kE, -1, decoded, 8);
  return QuoteText(decoded);
}

NPVariant S(const char* text) { return StringArg(text); }
NPVariant N(double value) { return NumberArg(value); }

struct CallCase {
  const char* method;
  std::vector<NPVariant> args;
  std::vector<std::string> lines;  // the engine calls made, in order
};

class EngineMethods : public PluginEngineTest {
 protected:
  void SetUp() override {
    PluginEngineTest::SetUp();
    engine.ClearLog();
  }
  // Engine lines of the calls a script call made (reference counting and error info left out).
  std::vector<std::string> LinesOf(const char* method, const std::vector<NPVariant>& args, int* status) {
    engine.ClearLog();
    *status = Status(method, args);
    std::vector<std::string> lines;
    for (const auto& line : EngineLines())
      if (line.find("InterfaceSupportsErrorInfo") == std::string::npos &&
          line.find("QueryInterface(ISupportErrorInfo)") == std::string::npos)
        lines.push_back(line);
    return lines;
  }
  NPObject* Recorder(std::vector<std::string>* texts) {
    return host.CreatePageFunction([texts](const NPVariant* args, uint32_t count, NPVariant*) {
      EXPECT_EQ(1u, count);
      texts->emplace_back(args[0].value.stringValue.UTF8Characters, args[0].value.stringValue.UTF8Length);
      return true;
    });
  }
};

TEST_F(EngineMethods, EachMethodCallsTheEngineWithItsConvertedArguments) {
  const std::string ansiE = AnsiOfE();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::string url = std::string("http://h/") + kE;
  const CallCase cases[] = {
      {"CreateDownload", {S(url.c_str()), S(kE), S("C:\\d"), S(kE), N(5.9), N(-6.9)},
       {"Download.CreateDownload(\"http://h/\\u00E9\", \"\\u00E9\", \"C:\\\\d\", " + ansiE + ", 5, -6, out 0)"}},
      {"StopDownload", {S("k")}, {"Download.StopDownload(\"k\")"}},
      {"CancelDownload", {S(kE)}, {"Download.CancelDownload(\"\\u00E9\")"}},
      {"ImportTask", {S("task text")}, {"Download.ImportTask(\"task text\")"}},
      {"DeleteDownload", {S("k"), S("x"), N(0)}, {"Download.ListFinishedTasks(out 0)", "Download.DeleteDownload(\"k\", 0)",
                                                    "Download.DeleteDownload2(\"k\", \"x\", 0)"}},
      {"DeleteDownload", {S("k"), S(""), N(2)}, {"Download.DeleteDownload(\"k\", 1)",
                                                   "Download.DeleteDownload2(\"k\", \"\", 1)"}},
      {"GetBlockStatusList", {S("k")}, {"Download.GetBlockStatusList(\"k\", out null, out 0)"}},
      {"GetResourceSize", {S("k")}, {"Download.GetResourceSize(\"k\", out 0)"}},
      {"GetTotalDownloadSpeed", {N(1), N(2), N(3)}, {"Download.GetTotalDownloadSpeed(out 0)"}},
      {"GetDownloadingCount", {}, {"Download.GetDownloadingCount(out 0)"}},
      {"SetCookie", {S(kE), N(1)}, {"Download.SetCookie(" + ansiE + ", 1)"}},
      {"SetCookie", {S("c"), N(-0.0)}, {"Download.SetCookie(\"c\", 0)"}},
      {"SetCookie", {S("c"), N(nan)}, {"Download.SetCookie(\"c\", 1)"}},
      {"ClearCookie", {}, {"Download.ClearCookie()"}},
      {"Move", {S("k"), N(258.7)}, {"Download.Move(\"k\", 2)"}},
      {"Move", {S("k"), N(-1)}, {"Download.Move(\"k\", 255)"}},
      {"SetProxy", {S("proxy.test"), N(8080.5), S("user"), S(kE), S("domain"), S("http")},
       {"Config.SetProxy(\"proxy.test\", 8080, \"user\", " + ansiE + ", \"domain\", \"http\")"}},
      {"GetProxy", {}, {}},
      {"SetUPnP", {N(1)}, {"Config.SetUPnP(1)"}},
      {"GetUPnP", {}, {"Config.GetUPnP(out 0)"}},
      {"SetLimitSpeed", {N(100), N(200.9)}, {"Config.SetLimitSpeed(100, 200)"}},
      {"GetLimitSpeed", {N(1)}, {"Config.GetLimitSpeed(1, out 0)"}},
      {"GetLimitSpeed", {N(256)}, {"Config.GetLimitSpeed(0, out 0)"}},
      {"GetLimitSpeed", {N(1.9)}, {"Config.GetLimitSpeed(1, out 0)"}},
      {"SetDiskCache", {N(1024)}, {"Config.SetDiskCache(1024)"}},
      {"GetDiskCache", {}, {"Config.GetDiskCache(out 0)"}},
      {"SetMaxDownloadCount", {N(3)}, {"Config.SetMaxDownloadCount(3)"}},
      {"GetMaxDownloadCount", {}, {"Config.GetMaxDownloadCount(out 0)"}},
      {"SetAutoStart", {N(0.001)}, {"Config.SetAutoStart(1)"}},
      {"GetAutoStart", {}, {"Config.GetAutoStart(out 0)"}},
      {"SetUDPPort", {N(6881.9)}, {"Config.SetUDPPort(6881)"}},
      {"SetUDPPort", {N(-5)}, {"Config.SetUDPPort(-5)"}},
      {"GetUDPPort", {}, {"Config.GetUDPPort(out 0)"}},
      {"SetDownloadSingleThread", {N(0)}, {"Config.SetDownloadSingleThread(0)"}},
      {"GetDownloadSingleThread", {}, {"Config.GetDownloadSingleThread(out 0)"}},
      {"SetClientVersion", {S(kE)}, {"Config.SetClientVersion(" + ansiE + ")"}},
  };
  for (const auto& c : cases) {
    int status = -9;
    EXPECT_THAT(LinesOf(c.method, c.args, &status), ::testing::ElementsAreArray(c.lines)) << c.method;
    EXPECT_EQ(0, status) << c.method;
  }
}

TEST_F(EngineMethods, TextsStopAtAnInnerNulAndEmptyTextsAreEmptyNotNull) {
  int status = 0;
  const char bytes[] = {'a', 'b', '\0', 'c'};
  EXPECT_THAT(LinesOf("StopDownload", {StringArg(bytes, 4)}, &status), ElementsAre("Download.StopDownload(\"ab\")"));
  EXPECT_THAT(LinesOf("SetClientVersion", {StringArg(bytes, 4)}, &status),
              ElementsAre("Config.SetClientVersion(\"ab\")"));
  EXPECT_THAT(LinesOf("ImportTask", {S("")}, &status), ElementsAre("Download.ImportTask(\"\")"));
}

TEST_F(EngineMethods, AnyArgumentsAreReadFromTheirValueBytes) {
  int status = 0;
  // A script boolean true is one set byte: as a double a tiny non-zero value.
  EXPECT_THAT(LinesOf("SetAutoStart", {BoolArg(true)}, &status), ElementsAre("Config.SetAutoStart(1)"));
  EXPECT_THAT(LinesOf("SetAutoStart", {BoolArg(false)}, &status), ElementsAre("Config.SetAutoStart(0)"));
  // An int32 1 in a port place: the bytes of 1 read as a double are not zero, and truncate to 0.
  EXPECT_THAT(LinesOf("SetUDPPort", {Int32Arg(1)}, &status), ElementsAre("Config.SetUDPPort(0)"));
  EXPECT_EQ(0, status);
}

TEST_F(EngineMethods, DeleteDownloadTakesTheTaskOutOfTheStoreBeforeTheEngineHearsOfIt) {
  TaskEventArgs event;
  event.SetNumber(task_event::kKind, 3);
  event.SetText(task_event::kKey, L"k\u00E9");
  event.SetNumber(task_event::kState, 1);
  engine.Fire(event.data(), TaskEventArgs::kCount);
  ASSERT_EQ(1u, StoredTasks().size());
  engine.Fail(L"Download", L"DeleteDownload", E_FAIL);
  bool completed = true;
  Call("DeleteDownload", {S("k\xC3\xA9"), S("x"), N(1)}, &completed);
  EXPECT_FALSE(completed);
  EXPECT_THAT(StoredTasks(), IsEmpty());
}

// A delete that names a finished entry by its path means that entry alone; any
// other delete still reaches the working task of the key.
TEST_F(EngineMethods, DeletingAFinishedEntryByItsPathLeavesTheWorkingRedownloadOfItsAddress) {
  TaskEventArgs event;
  event.SetNumber(task_event::kKind, 3);
  event.SetText(task_event::kKey, L"k");
  event.SetNumber(task_event::kState, 1);
  engine.Fire(event.data(), TaskEventArgs::kCount);
  engine.SetList(L"ListFinishedTasks", {L"other|u|C:\\d|b.bin|6|1|1|0|t|C:\\d\\b.bin|u|c|t",
                                        L"k|u|C:\\d|a.bin|6|1|1|0|t|C:\\d\\a.bin|u|c|t"});
  const std::string list = "Download.ListFinishedTasks(out 0)";
  const struct {
    const char* path;
    std::vector<std::string> lines;
    bool keptInStore;
  } cases[] = {
      {"C:\\d\\a.bin", {list, "Download.DeleteDownload2(\"k\", \"C:\\\\d\\\\a.bin\", 1)"}, true},
      // Another key's entry, a path no entry has, a folder: the working task goes as before.
      {"C:\\d\\b.bin",
       {list, "Download.DeleteDownload(\"k\", 1)", "Download.DeleteDownload2(\"k\", \"C:\\\\d\\\\b.bin\", 1)"},
       false},
      {"C:\\d", {list, "Download.DeleteDownload(\"k\", 1)", "Download.DeleteDownload2(\"k\", \"C:\\\\d\", 1)"}, false},
  };
  for (const auto& c : cases) {
    engine.Fire(event.data(), TaskEventArgs::kCount);
    int status = -9;
    EXPECT_THAT(LinesOf("DeleteDownload", {S("k"), S(c.path), N(1)}, &status), ::testing::ElementsAreArray(c.lines))
        << c.path;
    EXPECT_EQ(0, status);
    EXPECT_EQ(c.keptInStore ? 1u : 0u, StoredTasks().size()) << c.path;
  }
  // Without the finished list the page's delete reaches both as it always did.
  engine.Fail(L"Download", L"ListFinishedTasks", E_FAIL);
  int status = -9;
  EXPECT_THAT(LinesOf("DeleteDownload", {S("k"), S("C:\\d\\a.bin"), N(0)}, &status),
              ::testing::Contains("Download.DeleteDownload(\"k\", 0)"));
  EXPECT_EQ(0, status);
}

TEST_F(EngineMethods, PeerIdAndAddressComeBackAsTextInHostMemory) {
  engine.SetOutText(L"GetPeerID", L"peer-\u00E9");
  engine.SetOutText(L"GetIP", nullptr);  // a null BSTR reads as empty text
  NPVariant peer = Call("GetPeerID", {});
  ASSERT_EQ(NPVariantType_String, peer.type);
  std::string text(peer.value.stringValue.UTF8Characters, peer.value.stringValue.UTF8Length);
  char expected[16] = {};
  WideCharToMultiByte(CP_ACP, 0, L"peer-\u00E9", -1, expected, sizeof expected, nullptr, nullptr);
  EXPECT_EQ(std::string(expected), text);
  host.ReleaseVariantValue(&peer);
  NPVariant address = Call("GetIP", {});
  ASSERT_EQ(NPVariantType_String, address.type);
  EXPECT_EQ(0u, address.value.stringValue.UTF8Length);
  host.ReleaseVariantValue(&address);

  host.failMemAlloc = true;
  bool completed = true;
  NPVariant none = Call("GetIP", {}, &completed);
  EXPECT_FALSE(completed);
  EXPECT_EQ(NPVariantType_Void, none.type);
}

TEST_F(EngineMethods, WorkListLoadsDeliversAndForgetsTheEnginesOwnTasks) {
  engine.SetList(L"ListWorkTasks", {L"a", std::nullopt, L"b", L"gone"});
  TestEngineTaskInfo a = {L"a1", L"a2", L"a3", L"a4", TRUE, 1, -1, 100, 7};
  TestEngineTaskInfo b = {nullptr, nullptr, nullptr, nullptr, TRUE, 0xFE, 0, 0, 0};
  TestEngineTaskInfo gone = {L"x", L"x", L"x", L"x", FALSE, 0, 0, 0, 0};  // state left at 0xFF
  engine.SetTaskInfo(L"a", &a);
  engine.SetTaskInfo(L"b", &b);
  engine.SetTaskInfo(L"gone", &gone);
  std::vector<std::string> texts;
  NPObject* page = Recorder(&texts);
  engine.ClearLog();
  EXPECT_EQ(0, Status("LoadWorkTask", {ObjectArg(page)}));
  host.ReleaseObject(page);
  ASSERT_EQ(2u, texts.size());
  EXPECT_EQ("a|a1|a2|a3|1|18446744073709551615|100|7|a4|", Utf8(DecodeEscaped(texts[0])));
  EXPECT_EQ("b||||254|0|0|0||", Utf8(DecodeEscaped(texts[1])));
  // The null element is skipped: three queries, each key as the engine gave it.
  EXPECT_THAT(EngineLines(), ElementsAre("Download.ListWorkTasks(out 0)", ::testing::HasSubstr("(\"a\", out"),
                                         ::testing::HasSubstr("(\"b\", out"),
                                         ::testing::HasSubstr("(\"gone\", out")));
  engine.SetList(L"ListWorkTasks", {});
  EXPECT_THAT(StoredTasks(), IsEmpty());
}

TEST_F(EngineMethods, AWorkTaskThePageKnewFromAnEventIsRefreshedDeliveredOnceAndKept) {
  TaskEventArgs event;
  event.SetNumber(task_event::kKind, 3);
  event.SetText(task_event::kKey, L"a");
  event.SetNumber(task_event::kState, 1);
  engine.Fire(event.data(), TaskEventArgs::kCount);
  event.SetText(task_event::kKey, L"from-event");
  engine.Fire(event.data(), TaskEventArgs::kCount);
  engine.SetList(L"ListWorkTasks", {L"a", L"new"});
  TestEngineTaskInfo refreshed = {L"r", L"", L"", L"", TRUE, 2, 0, 0, 0};
  engine.SetTaskInfo(L"a", &refreshed);
  engine.SetTaskInfo(L"new", &refreshed);
  std::vector<std::string> texts;
  NPObject* page = Recorder(&texts);
  EXPECT_EQ(0, Status("LoadWorkTask", {ObjectArg(page)}));
  host.ReleaseObject(page);
  ASSERT_EQ(3u, texts.size());
  EXPECT_EQ("a|r|||2|0|0|0||", Utf8(DecodeEscaped(texts[0])));
  EXPECT_EQ(0u, Utf8(DecodeEscaped(texts[1])).find("from-event|"));
  EXPECT_EQ(0u, Utf8(DecodeEscaped(texts[2])).find("new|"));
  engine.SetList(L"ListWorkTasks", {});
  std::vector<std::string> after = StoredTasks();
  ASSERT_EQ(2u, after.size());  // "new" was the call's own and left with it
  EXPECT_EQ("a|r|||2|0|0|0||", after[0]);
  EXPECT_EQ(0u, after[1].find("from-event|"));
}

TEST_F(EngineMethods, AFailureInTheMiddleOfTheWorkListLeavesNothingHalfLoaded) {
  engine.SetList(L"ListWorkTasks", {L"a", L"b"});
  TestEngineTaskInfo info = {L"t", L"", L"", L"", TRUE, 1, 0, 0, 0};
  engine.SetTaskInfo(L"a", &info);
  engine.SetTaskInfo(L"b", &info);
  engine.Fail(L"Download", L"QueryTaskInfo", E_FAIL, L"lost", 1, 1);
  std::vector<std::string> texts;
  NPObject* page = Recorder(&texts);
  bool completed = true;
  Call("LoadWorkTask", {ObjectArg(page)}, &completed);
  EXPECT_FALSE(completed);
  EXPECT_THAT(texts, IsEmpty());
  engine.SetList(L"ListWorkTasks", {});
  EXPECT_THAT(StoredTasks(), IsEmpty());
  host.ReleaseObject(page);
}

TEST_F(EngineMethods, WorkListWithANonCallableFunctionStillWalksAndAnswersOk) {
  engine.SetList(L"ListWorkTasks", {L"a"});
  TestEngineTaskInfo info = {L"t", L"", L"", L"", TRUE, 1, 0, 0, 0};
  engine.SetTaskInfo(L"a", &info);
  NPObject* plain = host.CreatePlainObject();
  EXPECT_EQ(0, Status("LoadWorkTask", {ObjectArg(plain)}));
  EXPECT_EQ(0, Status("LoadFinishTask", {ObjectArg(plain)}));
  host.ReleaseObject(plain);
  EXPECT_EQ(2, Status("LoadWorkTask", {S("function(){}")}));
  EXPECT_EQ(2, Status("LoadFinishTask", {N(1)}));
}

TEST_F(EngineMethods, FinishedListGoesToThePageEscapedAndInOrder) {
  std::vector<std::string> texts;
  NPObject* page = Recorder(&texts);
  EXPECT_EQ(0, Status("LoadFinishTask", {ObjectArg(page)}));
  EXPECT_THAT(texts, IsEmpty());
  engine.SetList(L"ListFinishedTasks", {L"x|1", std::nullopt, L"\u00E9\"", L"last"});
  EXPECT_EQ(0, Status("LoadFinishTask", {ObjectArg(page)}));
  host.ReleaseObject(page);
  EXPECT_THAT(texts, ElementsAre("\\u0078\\u007C\\u0031", "", "\\u00E9\\u0022", "\\u006C\\u0061\\u0073\\u0074"));
}

TEST_F(EngineMethods, ListsWithAnotherLowerBoundAreReadWhole) {
  engine.SetList(L"ListFinishedTasks", {L"one", L"two"}, 3);
  std::vector<std::string> texts;
  NPObject* page = Recorder(&texts);
  EXPECT_EQ(0, Status("LoadFinishTask", {ObjectArg(page)}));
  host.ReleaseObject(page);
  EXPECT_EQ(2u, texts.size());
}

// Each engine call failing: script sees a failed call, the next call works, nothing leaks.
struct FailingCall {
  const char* method;
  std::vector<NPVariant> args;
  const wchar_t* object;
  const wchar_t* engineMethod;
};

TEST_F(EngineMethods, EveryFailingEngineCallEndsAsAFailedScriptCallAndTheElementGoesOn) {
  NPObject* page = host.CreatePageFunction([](const NPVariant*, uint32_t, NPVariant*) { return true; });
  engine.SetOutText(L"GetPeerID", L"p");
  engine.SetOutText(L"GetIP", L"i");
  engine.SetOutText(L"GetBlockStatusList", L"blocks");
  const FailingCall cases[] = {
      {"CreateDownload", {S("u"), S("f"), S("d"), S("c"), N(1), N(1)}, L"Download", L"CreateDownload"},
      {"StopDownload", {S("k")}, L"Download", L"StopDownload"},
      {"DeleteDownload", {S("k"), S("x"), N(1)}, L"Download", L"DeleteDownload2"},
      {"CancelDownload", {S("k")}, L"Download", L"CancelDownload"},
      {"GetBlockStatusList", {S("k")}, L"Download", L"GetBlockStatusList"},
      {"GetResourceSize", {S("k")}, L"Download", L"GetResourceSize"},
      {"GetTotalDownloadSpeed", {}, L"Download", L"GetTotalDownloadSpeed"},
      {"GetDownloadingCount", {}, L"Download", L"GetDownloadingCount"},
      {"ImportTask", {S("t")}, L"Download", L"ImportTask"},
      {"SetCookie", {S("c"), N(1)}, L"Download", L"SetCookie"},
      {"ClearCookie", {}, L"Download", L"ClearCookie"},
      {"LoadFinishTask", {ObjectArg(page)}, L"Download", L"ListFinishedTasks"},
      {"LoadWorkTask", {ObjectArg(page)}, L"Download", L"ListWorkTasks"},
      {"Move", {S("k"), N(1)}, L"Download", L"Move"},
      {"SetProxy", {S("h"), N(1), S("u"), S("p"), S("d"), S("t")}, L"Config", L"SetProxy"},
      {"SetUPnP", {N(1)}, L"Config", L"SetUPnP"},
      {"GetUPnP", {}, L"Config", L"GetUPnP"},
      {"SetLimitSpeed", {N(1), N(1)}, L"Config", L"SetLimitSpeed"},
      {"GetLimitSpeed", {N(1)}, L"Config", L"GetLimitSpeed"},
      {"SetDiskCache", {N(1)}, L"Config", L"SetDiskCache"},
      {"GetDiskCache", {}, L"Config", L"GetDiskCache"},
      {"SetMaxDownloadCount", {N(1)}, L"Config", L"SetMaxDownloadCount"},
      {"GetMaxDownloadCount", {}, L"Config", L"GetMaxDownloadCount"},
      {"SetAutoStart", {N(1)}, L"Config", L"SetAutoStart"},
      {"GetAutoStart", {}, L"Config", L"GetAutoStart"},
      {"SetUDPPort", {N(1)}, L"Config", L"SetUDPPort"},
      {"GetUDPPort", {}, L"Config", L"GetUDPPort"},
      {"SetDownloadSingleThread", {N(1)}, L"Config", L"SetDownloadSingleThread"},
      {"GetDownloadSingleThread", {}, L"Config", L"GetDownloadSingleThread"},
      {"GetPeerID", {}, L"Config", L"GetPeerID"},
      {"GetIP", {}, L"Config", L"GetIP"},
      {"SetClientVersion", {S("v")}, L"Config", L"SetClientVersion"},
  };
  for (const auto& c : cases) {
    engine.Fail(c.object, c.engineMethod, E_FAIL, L"engine refused", 0, 1);
    bool completed = true;
    NPVariant result = Call(c.method, c.args, &completed);
    EXPECT_FALSE(completed) << c.method;
    EXPECT_EQ(NPVariantType_Void, result.type) << c.method;
    result = Call(c.method, c.args, &completed);
    EXPECT_TRUE(completed) << c.method << " after a failure";
    host.ReleaseVariantValue(&result);
  }
  host.ReleaseObject(page);
}

}  // namespace
