// The site lock through the module's exports: the page's address learned
// from the recording host's window object, the allowed list from the
// registry of the test prefix, and what a refused page gets: an element
// without an engine, which never makes an engine call and never hears of one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/allowed_origins_setting.h"
#include "tests/support/debug_output.h"
#include "tests/support/plugin_engine_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class SiteLock : public PluginEngineTest {
 protected:
  SiteLock() { startElement = false; }
  void SetUp() override {
    machine.reset(new AllowedOriginsSetting(HKEY_LOCAL_MACHINE));
    user.reset(new AllowedOriginsSetting(HKEY_CURRENT_USER));
    // Every test starts from a prefix where neither hive has the value.
    machine->Remove();
    user->Remove();
    PluginEngineTest::SetUp();
  }
  void TearDown() override {
    PluginEngineTest::TearDown();
    user.reset();
    machine.reset();
  }

  struct Outcome {
    bool engine;                     // the element made the engine's objects
    std::vector<std::string> lines;  // debugger lines of NPP_New beyond the usual two
  };

  // Opens an element on a page at `address`, looks at it and closes it again.
  Outcome Open(const std::string& address) {
    host.pageAddress = address;
    engine.ClearLog();
    Outcome outcome{false, {}};
    {
      DebugOutputCapture debugger;
      StartElement();
      for (const std::string& line : debugger.Lines())
        if (line != "NPError HalvoPlugin::HalvoPlugin(void)\n" && line != "NPError HalvoPlugin::Init\n")
          outcome.lines.push_back(line);
    }
    outcome.engine = !engine.Calls().empty();
    EXPECT_EQ(outcome.engine ? 0 : 1, Status("GetDownloadingCount", {})) << address;
    DestroyElement();
    EXPECT_EQ(0u, engine.ObjectCount()) << address;
    return outcome;
  }
  bool Allowed(const std::string& address) { return Open(address).engine; }

  std::unique_ptr<AllowedOriginsSetting> machine, user;
};

struct PageCase {
  const char* address;
  bool allowed;
  const char* refusedAs;  // the origin the debugger line names
};

TEST_F(SiteLock, TheDefaultListAllowsPagesFromTheUsersOwnMachineOnly) {
  const PageCase cases[] = {
      {"http://127.0.0.1/test.html", true, nullptr},
      {"http://127.0.0.1:8080/x?y#z", true, nullptr},
      {"http://localhost:3000/", true, nullptr},
      {"HTTP://LocalHost:3000/", true, nullptr},
      {"http://[::1]:9000/", true, nullptr},
      {"http://[::1]/", true, nullptr},
      {"https://127.0.0.1/", false, "https://127.0.0.1"},
      {"http://127.0.0.1.evil.example/", false, "http://127.0.0.1.evil.example"},
      {"http://localhost.evil.example:8080/", false, "http://localhost.evil.example:8080"},
      {"http://evil.example/", false, "http://evil.example"},
      // User information is not part of the origin.
      {"http://127.0.0.1:80@evil.example/", false, "http://evil.example"},
      {"http://localhost@evil.example:8080/", false, "http://evil.example:8080"},
      {"http://evil.example/?http://127.0.0.1/", false, "http://evil.example"},
      {"http://evil.example#@127.0.0.1/", false, "http://evil.example"},
      {"file:///C:/page.html", false, "file://"},
      {"file://127.0.0.1/C$/page.html", false, "file://127.0.0.1"},
      // What cannot be read with certainty is refused.
      {"http://evil.example\\@127.0.0.1/", false, "(page address not understood)"},
      {"http://127.0.0.1:99999/", false, "(page address not understood)"},
      {"http://127.0.0.1%2eevil.example/", false, "(page address not understood)"},
      {"about:blank", false, "(page address not understood)"},
      {"javascript:alert(1)", false, "(page address not understood)"},
      {"", false, "(page address not understood)"},
  };
  for (const PageCase& c : cases) {
    Outcome outcome = Open(c.address);
    EXPECT_EQ(c.allowed, outcome.engine) << c.address;
    if (c.allowed) {
      EXPECT_TRUE(outcome.lines.empty()) << c.address;
    } else {
      EXPECT_THAT(outcome.lines, ElementsAre(std::string("NPError HalvoPlugin::Init refused ") + c.refusedAs + "\n"))
          << c.address;
    }
  }
}

TEST_F(SiteLock, AListedOriginWithSubdomainAndPortEntries) {
  ASSERT_TRUE(machine->Set(L"https://good.example https://*.b.example http://c.example:* http://[::1]:8080 "
                           L"https://D.Example:8443 not-an-origin https://e.example/path"));
  const PageCase cases[] = {
      {"https://good.example/", true, nullptr},
      {"HTTPS://GOOD.EXAMPLE:443/Page", true, nullptr},  // upper case and the default port
      {"https://good.example.evil.example/", false, "https://good.example.evil.example"},
      {"https://evil.example/good.example", false, "https://evil.example"},
      {"http://good.example/", false, "http://good.example"},
      {"https://good.example:8443/", false, "https://good.example:8443"},
      {"https://x.b.example/", true, nullptr},
      {"https://y.x.b.example/", true, nullptr},
      {"https://b.example/", false, "https://b.example"},  // "*." is for subdomains only
      {"https://evilb.example/", false, "https://evilb.example"},
      {"https://x.b.example.evil.example/", false, "https://x.b.example.evil.example"},
      {"http://c.example:81/", true, nullptr},
      {"http://c.example/", true, nullptr},  // ":*" takes the default port too
      {"https://c.example/", false, "https://c.example"},
      {"http://[::1]:8080/", true, nullptr},
      {"http://[::1]/", false, "http://[::1]"},
      {"https://d.example:8443/", true, nullptr},
      {"https://e.example/path", false, "https://e.example"},  // an entry with a path is left out
      // The default list is not in force once a list is set.
      {"http://127.0.0.1/", false, "http://127.0.0.1"},
  };
  for (const PageCase& c : cases) {
    Outcome outcome = Open(c.address);
    EXPECT_EQ(c.allowed, outcome.engine) << c.address;
    if (!c.allowed) {
      EXPECT_THAT(outcome.lines, ElementsAre(std::string("NPError HalvoPlugin::Init refused ") + c.refusedAs + "\n"))
          << c.address;
    }
  }
}

TEST_F(SiteLock, EitherHiveAloneAndBothTogether) {
  ASSERT_TRUE(user->Set(L"https://user.example"));
  EXPECT_TRUE(Allowed("https://user.example/"));
  EXPECT_FALSE(Allowed("https://machine.example/"));
  EXPECT_FALSE(Allowed("http://127.0.0.1/"));

  user->Remove();
  ASSERT_TRUE(machine->Set(L"https://machine.example"));
  EXPECT_TRUE(Allowed("https://machine.example/"));
  EXPECT_FALSE(Allowed("https://user.example/"));
  EXPECT_FALSE(Allowed("http://127.0.0.1/"));

  ASSERT_TRUE(user->Set(L"https://user.example"));
  EXPECT_TRUE(Allowed("https://machine.example/"));
  EXPECT_TRUE(Allowed("https://user.example/"));
}

TEST_F(SiteLock, AValueThatIsThereButNoListAllowsNothing) {
  ASSERT_TRUE(machine->Set(L""));
  EXPECT_FALSE(Allowed("http://127.0.0.1/"));
  DWORD number = 1;
  ASSERT_TRUE(machine->SetRaw(REG_DWORD, &number, sizeof number));
  EXPECT_FALSE(Allowed("http://127.0.0.1/"));
  // A list written as several strings is not the blank-separated text it should be.
  const wchar_t multi[] = L"http://127.0.0.1:*\0\0";
  ASSERT_TRUE(machine->SetRaw(REG_MULTI_SZ, multi, sizeof multi));
  EXPECT_FALSE(Allowed("http://127.0.0.1/"));
  // Stored without its terminating NUL: read as far as it goes.
  const wchar_t unterminated[] = {L'h', L't', L't', L'p', L':', L'/', L'/', L'a', L'.', L'e', L'x'};
  ASSERT_TRUE(machine->SetRaw(REG_SZ, unterminated, sizeof unterminated));
  EXPECT_TRUE(Allowed("http://a.ex/"));
  EXPECT_FALSE(Allowed("http://a.exa/"));
}

TEST_F(SiteLock, EachElementDecidesAfresh) {
  host.pageAddress = "https://later.example/";
  StartElement();
  NPP first = instance;
  NPObject* firstObject = object;
  EXPECT_EQ(1, Status("GetDownloadingCount", {}));
  ASSERT_TRUE(user->Set(L"https://later.example"));
  StartElement();
  EXPECT_EQ(0, Status("GetDownloadingCount", {}));
  // The first element keeps what it got.
  NPObject* secondObject = object;
  object = firstObject;
  EXPECT_EQ(1, Status("GetDownloadingCount", {}));
  object = secondObject;
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(first));
  host.ReleaseObject(firstObject);
}

TEST_F(SiteLock, TheAddressIsLearnedFromTheWindowObjectAndEveryReferenceGoesBack) {
  host.ClearCalls();
  NPP element = NewInstance();
  std::vector<std::string> calls;
  for (const HostCall& call : host.Calls()) {
    std::string line = call.function;
    if (call.function == "NPN_GetValue") line += " " + call.args[1];
    if (call.function == "NPN_GetStringIdentifier") line += " " + call.args[0];
    if (call.function == "NPN_GetProperty") line += " " + call.args[2];
    calls.push_back(line);
    EXPECT_EQ(host.PluginThread(), call.thread) << line;
  }
  EXPECT_THAT(calls, ElementsAre("NPN_SetValue", "NPN_GetValue " + std::to_string(NPNVWindowNPObject),
                                 "NPN_GetStringIdentifier location", "NPN_GetProperty location",
                                 "NPN_GetStringIdentifier href", "NPN_GetProperty href", "NPN_ReleaseVariantValue",
                                 "NPN_MemFree", "NPN_ReleaseVariantValue", "NPN_ReleaseObject"));
  // What is left is the page's own: one reference to each object, no text.
  EXPECT_EQ(1u, host.ReferenceCount(host.Window()));
  EXPECT_EQ(1u, host.ReferenceCount(host.Location()));
  EXPECT_EQ(0u, host.LiveAllocations());
  // Nothing is posted.
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
  DestroyInstance(element);
}

struct HostFault {
  const char* name;
  TestHost::PageFailure failure;
  TestHost::PageAnswer location;
  TestHost::PageAnswer href;
};

using Failure = TestHost::PageFailure;
using Answer = TestHost::PageAnswer;

const HostFault kHostFaults[] = {
    {"WindowError", Failure::WindowError, Answer::Expected, Answer::Expected},
    {"WindowNull", Failure::WindowNull, Answer::Expected, Answer::Expected},
    {"LocationIdentifier", Failure::LocationIdentifier, Answer::Expected, Answer::Expected},
    {"LocationProperty", Failure::LocationProperty, Answer::Expected, Answer::Expected},
    {"HrefIdentifier", Failure::HrefIdentifier, Answer::Expected, Answer::Expected},
    {"HrefProperty", Failure::HrefProperty, Answer::Expected, Answer::Expected},
    {"LocationMissing", Failure::None, Answer::Void, Answer::Expected},
    {"LocationNull", Failure::None, Answer::Null, Answer::Expected},
    {"LocationString", Failure::None, Answer::String, Answer::Expected},
    {"LocationNumber", Failure::None, Answer::Number, Answer::Expected},
    {"HrefMissing", Failure::None, Answer::Expected, Answer::Void},
    {"HrefNull", Failure::None, Answer::Expected, Answer::Null},
    {"HrefNumber", Failure::None, Answer::Expected, Answer::Number},
    {"HrefObject", Failure::None, Answer::Expected, Answer::Object},
};

class SiteLockHostFault : public SiteLock, public ::testing::WithParamInterface<HostFault> {};

TEST_P(SiteLockHostFault, RefusesThePageAndKeepsTheLedgers) {
  const HostFault& c = GetParam();
  host.pageFailure = c.failure;
  host.locationAnswer = c.location;
  host.hrefAnswer = c.href;
  DebugOutputCapture debugger;
  StartElement();
  EXPECT_THAT(debugger.Lines(), Contains("NPError HalvoPlugin::Init refused (page address not learned)\n"));
  EXPECT_EQ(1, Status("CreateDownload", {StringArg("u"), StringArg("f"), StringArg("d"), StringArg("c"),
                                         NumberArg(1), NumberArg(1)}));
  EXPECT_TRUE(engine.Calls().empty());
  // Whatever the host handed over went back: the page holds only its own references.
  if (host.Window() != nullptr) {
    EXPECT_EQ(1u, host.ReferenceCount(host.Window()));
    EXPECT_EQ(1u, host.ReferenceCount(host.Location()));
  }
  EXPECT_EQ(0u, host.LiveAllocations());
  // The page's two objects, if it was asked for them, and the element's scriptable object.
  EXPECT_EQ((host.Window() != nullptr ? 2u : 0u) + 1u, host.LiveObjects());
  // The ledgers are checked once more at the end, after the page closes.
}

INSTANTIATE_TEST_SUITE_P(EachStep, SiteLockHostFault, ::testing::ValuesIn(kHostFaults),
                         [](const ::testing::TestParamInfo<HostFault>& info) { return info.param.name; });

// One valid call of every method that needs the engine.
std::vector<std::pair<const char*, std::vector<NPVariant>>> EngineMethodCalls(NPObject* callback) {
  NPVariant s = StringArg("k"), n = NumberArg(1), f = ObjectArg(callback);
  return {
      {"CreateDownload", {s, s, s, s, n, n}}, {"StopDownload", {s}}, {"DeleteDownload", {s, s, n}},
      {"CancelDownload", {s}}, {"GetBlockStatusList", {s}}, {"GetResourceSize", {s}},
      {"GetTotalDownloadSpeed", {}}, {"GetDownloadingCount", {}}, {"ImportTask", {s}}, {"SetCookie", {s, n}},
      {"ClearCookie", {}}, {"LoadFinishTask", {f}}, {"LoadWorkTask", {f}}, {"Move", {s, n}},
      {"SetProxy", {s, n, s, s, s, s}}, {"GetProxy", {n}}, {"SetUPnP", {s}}, {"GetUPnP", {}},
      {"SetLimitSpeed", {n, n}}, {"GetLimitSpeed", {n}}, {"SetDiskCache", {n}}, {"GetDiskCache", {}},
      {"SetMaxDownloadCount", {n}}, {"GetMaxDownloadCount", {}}, {"SetAutoStart", {s}}, {"GetAutoStart", {}},
      {"SetUDPPort", {NumberArg(6881)}}, {"GetUDPPort", {}}, {"SetDownloadSingleThread", {s}},
      {"GetDownloadSingleThread", {}}, {"GetPeerID", {}}, {"GetIP", {n}}, {"SetClientVersion", {s}},
      {"ExecuteFile", {StringArg("C:\\windows"), n}},
  };
}

TEST_F(SiteLock, ARefusedPageMakesNoEngineCallAndHearsOfNone) {
  host.pageAddress = "https://evil.example/";
  StartElement();
  NPObject* callback = host.CreatePageFunction([](const NPVariant*, uint32_t, NPVariant*) { return true; });
  auto calls = EngineMethodCalls(callback);
  EXPECT_EQ(34u, calls.size());
  for (const auto& call : calls) EXPECT_EQ(1, Status(call.first, call.second)) << call.first;
  host.ReleaseObject(callback);
  EXPECT_TRUE(engine.Calls().empty());
  EXPECT_EQ(0u, engine.ObjectCount(nullptr, false)) << "an engine object was made";
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_TRUE(engine.Calls().empty());
  Pump();
  EXPECT_TRUE(host.Calls("NPN_GetURL").empty());
  EXPECT_TRUE(host.Calls("NPN_InvokeDefault").empty());
}

}  // namespace
