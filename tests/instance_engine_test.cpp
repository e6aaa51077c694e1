// The instance and the engine: what Init and UnInit ask of it, in order, and
// how every engine failure on the way ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ocidl.h>

#include "engine/engine_interfaces.h"
#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

// Engine lines with AddRef left out but Release and Destroy kept: the order of teardown.
std::vector<std::string> TeardownLines(const TestEngine& engine) {
  std::vector<std::string> lines;
  for (const auto& line : engine.Lines(true))
    if (line.find(".AddRef(") == std::string::npos) lines.push_back(line);
  return lines;
}

using InstanceEngine = PluginEngineTest;

TEST_F(InstanceEngine, InitStartsAndConfiguresTheEngineInOrder) {
  EXPECT_THAT(EngineLines(),
              ElementsAre("Schedule.CreateInstance(nullptr, ISchedule)", "Schedule.StartupStep1()",
                          "Schedule.StartupStep2()", "Config.CreateInstance(nullptr, IConfig)",
                          "Config.SetClientVersion(\"Chrome/21.0.1180.79 Safari/537.1 Corvane/1.0.2\")",
                          "Config.SetMaxDownloadCount(5)", "Config.SetAutoStart(0)",
                          "Download.CreateInstance(nullptr, IDownload)",
                          "Download.QueryInterface(IConnectionPointContainer)",
                          "Download.FindConnectionPoint(ITaskEvents)", "ConnectionPoint.Advise(ptr, out 0)",
                          "Download.StartupStep1()", "Download.StartupStep2()"));
  EXPECT_EQ(1u, engine.Object(L"Download")->sinks);
  for (const auto& call : engine.Calls()) EXPECT_EQ(host.PluginThread(), call.thread) << call.Line();
}

TEST_F(InstanceEngine, UnInitShutsDownDisconnectsAndOnlyThenReleasesEveryReference) {
  engine.ClearLog();
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_THAT(TeardownLines(engine),
              ElementsAre("Schedule.ShutdownStep()", ::testing::StartsWith("ConnectionPoint.Unadvise("),
                          "Schedule.Destroy()", "Schedule.Release()", "Config.Destroy()", "Config.Release()",
                          "ConnectionPoint.Release()", "Download.Release()", "Download.Destroy()",
                          "Download.Release()"));
  // Unadvise got the cookie Advise gave: the engine accepted it.
  for (const auto& call : engine.Calls()) {
    if (call.method == L"Unadvise") {
      EXPECT_EQ(S_OK, call.result);
    }
  }
  EXPECT_EQ(0u, engine.ObjectCount());
  // The page's object outlives its instance, detached.
  EXPECT_EQ(3, Status("GetDownloadingCount", {}));
}

class EngineMissing : public PluginEngineTest {
 protected:
  EngineMissing() : PluginEngineTest(0) {}
};

TEST_F(EngineMissing, TheElementLivesWithoutAnEngine) {
  EXPECT_NE(nullptr, instance->pdata);
  EXPECT_EQ(1, Status("CreateDownload", {StringArg("u"), StringArg("f"), StringArg("d"), StringArg("c"),
                                         NumberArg(1), NumberArg(1)}));
  EXPECT_EQ(1, Status("GetUDPPort", {}));
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_TRUE(EngineLines().empty());
}

// One engine step failing during Init (or UnInit), and what the element can do afterwards.
struct FailureCase {
  const char* name;
  const wchar_t* object;
  const wchar_t* method;
  const IID* iid;
  int downloadStatus;  // what a Download method answers afterwards
  int configStatus;    // what a Config method answers afterwards
  bool advised;        // the sink is connected
};

const FailureCase kFailures[] = {
    {"ScheduleCreation", L"Schedule", L"CreateInstance", nullptr, 1, 1, false},
    {"ScheduleStep1", L"Schedule", L"StartupStep1", nullptr, 1, 1, false},
    {"ScheduleStep2", L"Schedule", L"StartupStep2", nullptr, 1, 1, false},
    {"ConfigCreation", L"Config", L"CreateInstance", nullptr, 0, 1, true},
    {"ClientVersion", L"Config", L"SetClientVersion", nullptr, 1, 0, false},
    {"MaxDownloadCount", L"Config", L"SetMaxDownloadCount", nullptr, 1, 0, false},
    {"AutoStart", L"Config", L"SetAutoStart", nullptr, 1, 0, false},
    {"DownloadCreation", L"Download", L"CreateInstance", nullptr, 1, 0, false},
    {"ContainerQuery", L"Download", L"QueryInterface", &IID_IConnectionPointContainer, 0, 0, false},
    {"FindConnectionPoint", L"Download", L"FindConnectionPoint", nullptr, 0, 0, false},
    {"Advise", L"ConnectionPoint", L"Advise", nullptr, 0, 0, false},
    {"DownloadStep1", L"Download", L"StartupStep1", nullptr, 0, 0, true},
    {"DownloadStep2", L"Download", L"StartupStep2", nullptr, 0, 0, true},
    {"Shutdown", L"Schedule", L"ShutdownStep", nullptr, 0, 0, true},
};

class InitFailure : public PluginEngineTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  InitFailure() { startElement = false; }
};

TEST_P(InitFailure, EndsTheSequenceLeavesTheElementUsableAndNothingConnected) {
  const FailureCase& c = GetParam();
  TestEngineRule rule = {c.object, c.method, c.iid, E_FAIL, L"engine step failed", 0, 0};
  ASSERT_EQ(S_OK, engine.AddRule(rule));
  StartElement();
  ASSERT_NE(nullptr, instance->pdata);
  ASSERT_NE(nullptr, object);

  bool hasDownload = engine.ObjectCount(L"Download") == 1;
  EXPECT_EQ(hasDownload && c.advised ? 1u : 0u, hasDownload ? engine.Object(L"Download")->sinks : 0u);
  for (int round = 0; round < 2; ++round) {  // the element answers again and again
    EXPECT_EQ(c.downloadStatus, Status("GetDownloadingCount", {}));
    EXPECT_EQ(c.configStatus, Status("GetUDPPort", {}));
  }
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_EQ(0u, engine.ObjectCount()) << "an engine object is still referenced";
  EXPECT_THAT(EngineLines(), Not(Contains(::testing::HasSubstr("Unadvise(0)"))));
  if (!c.advised) {
    EXPECT_THAT(EngineLines(), Not(Contains(::testing::HasSubstr("Unadvise"))));
  }
}

INSTANTIATE_TEST_SUITE_P(EachStep, InitFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
