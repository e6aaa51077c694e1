// The 38 script methods' names and argument rules, on an instance without an
// engine and on an object whose instance is gone: arguments are judged first,
// then the instance, then the engine.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "tests/support/module_fixture.h"

namespace {

const char* const kMethods[] = {
    "CreateDownload", "StopDownload", "DeleteDownload", "CancelDownload", "GetBlockStatusList",
    "GetResourceSize", "GetResourceInfo", "GetTotalDownloadSpeed", "GetDownloadingCount", "ImportTask",
    "SetCookie", "ClearCookie", "LoadFinishTask", "LoadWorkTask", "Move", "AddPeer", "SetResvrWordUrl",
    "GetResvrWordUrl", "SetProxy", "GetProxy", "SetUPnP", "GetUPnP", "SetLimitSpeed", "GetLimitSpeed",
    "SetDiskCache", "GetDiskCache", "SetMaxDownloadCount", "GetMaxDownloadCount", "SetAutoStart",
    "GetAutoStart", "SetUDPPort", "GetUDPPort", "SetDownloadSingleThread", "GetDownloadSingleThread",
    "GetPeerID", "GetIP", "SetClientVersion", "ExecuteFile"};

const char* const kNoOps[] = {"GetResourceInfo", "AddPeer", "SetResvrWordUrl", "GetResvrWordUrl"};

// One argument list and the status it must get before the instance is looked at.
struct ArgumentCase {
  const char* method;
  std::vector<NPVariant> args;
  bool refused;  // StatusBadArguments whatever the instance
};

NPVariant S(const char* text = "k") { return StringArg(text); }
NPVariant N(double value = 1) { return NumberArg(value); }

std::vector<ArgumentCase> Cases(NPVariant object) {
  NPVariant i = Int32Arg(1), b = BoolArg(true);
  return {
      {"CreateDownload", {S(), S(), S(), S(), N(), N()}, false},
      {"CreateDownload", {S(), S(), S(), S(), N()}, true},
      {"CreateDownload", {S(), S(), S(), S(), N(), N(), N()}, true},
      {"CreateDownload", {S(), S(), S(), S(), b, N()}, true},
      {"CreateDownload", {S(), S(), S(), S(), N(), i}, true},
      {"CreateDownload", {S(), S(), N(), S(), N(), N()}, true},
      {"StopDownload", {S()}, false},
      {"StopDownload", {N()}, true},
      {"StopDownload", {}, true},
      {"DeleteDownload", {S(), S(), b}, false},  // argument 3 is never refused for its type
      {"DeleteDownload", {S(), N(), N()}, true},
      {"DeleteDownload", {S(), S()}, true},
      {"CancelDownload", {S()}, false},
      {"CancelDownload", {object}, true},
      {"GetBlockStatusList", {S()}, false},
      {"GetBlockStatusList", {S(), S()}, true},
      {"GetResourceSize", {S()}, false},
      {"GetResourceSize", {i}, true},
      {"GetTotalDownloadSpeed", {N(), N(), N()}, false},  // no arguments: extras are ignored
      {"GetDownloadingCount", {}, false},
      {"ImportTask", {S()}, false},
      {"ImportTask", {}, true},
      {"SetCookie", {S(), S()}, false},
      {"SetCookie", {N(), N()}, true},
      {"ClearCookie", {S()}, false},
      {"LoadFinishTask", {object}, false},
      {"LoadFinishTask", {S()}, true},
      {"LoadWorkTask", {object}, false},
      {"LoadWorkTask", {S()}, true},
      {"LoadWorkTask", {}, true},
      {"Move", {S(), N(2)}, false},
      {"Move", {S(), i}, true},
      {"Move", {S()}, true},
      {"SetProxy", {S(), N(), S(), S(), S(), S()}, false},
      {"SetProxy", {S(), S(), S(), S(), S(), S()}, true},
      {"SetProxy", {S(), N(), S(), S(), S()}, true},
      {"GetProxy", {N()}, false},
      {"SetUPnP", {S()}, false},
      {"SetUPnP", {}, true},
      {"GetUPnP", {}, false},
      {"SetLimitSpeed", {N(), N()}, false},
      {"SetLimitSpeed", {N()}, true},
      {"SetLimitSpeed", {N(), S()}, true},
      {"GetLimitSpeed", {N()}, false},
      {"GetLimitSpeed", {b}, true},
      {"SetDiskCache", {N()}, false},
      {"SetDiskCache", {i}, true},
      {"GetDiskCache", {}, false},
      {"SetMaxDownloadCount", {N()}, false},
      {"SetMaxDownloadCount", {b}, true},
      {"GetMaxDownloadCount", {}, false},
      {"SetAutoStart", {S()}, false},
      {"GetAutoStart", {}, false},
      {"SetUDPPort", {N(6881)}, false},
      {"SetUDPPort", {N(0)}, true},
      {"SetUDPPort", {N(-0.0)}, true},
      {"SetUDPPort", {}, true},
      {"GetUDPPort", {}, false},
      {"SetDownloadSingleThread", {S()}, false},
      {"GetDownloadSingleThread", {}, false},
      {"GetPeerID", {}, false},
      {"GetIP", {N()}, false},
      {"SetClientVersion", {S()}, false},
      {"SetClientVersion", {N()}, true},
      {"ExecuteFile", {S("C:\\windows"), N()}, false},
      {"ExecuteFile", {S("C:\\windows")}, true},
      {"ExecuteFile", {N(), N()}, true},
      {"ExecuteFile", {S("\\\\server\\share\\f.txt"), N()}, true},
      {"ExecuteFile", {S("//server/share/f.txt"), N()}, true},
      {"ExecuteFile", {S("\\/server/share"), N()}, true},
      {"ExecuteFile", {S("C:\\a\" /root,C:\\b"), N()}, true},
      {"ExecuteFile", {S("C:\\a\nb"), N()}, true},
  };
}

class ScriptMethods : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    instance = NewInstance();
    ASSERT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object));
    callback = host.CreatePageFunction([](const NPVariant*, uint32_t, NPVariant*) { return true; });
  }
  void TearDown() override {
    host.ReleaseObject(callback);
    if (object != nullptr) host.ReleaseObject(object);
    ModuleTest::TearDown();
  }
  NPVariant Call(const char* method, const std::vector<NPVariant>& args, bool* completed = nullptr) {
    NPVariant result;
    bool done = host.Invoke(object, method, args, &result);
    if (completed != nullptr) *completed = done;
    return result;
  }
  NPP instance = nullptr;
  NPObject* object = nullptr;
  NPObject* callback = nullptr;
};

TEST_F(ScriptMethods, ExactlyTheThirtyEightNamesAreMethods) {
  for (const char* name : kMethods) EXPECT_TRUE(object->_class->hasMethod(object, host.StringId(name))) << name;
  EXPECT_EQ(38u, std::set<std::string>(std::begin(kMethods), std::end(kMethods)).size());
  for (const char* name : {"createDownload", "CREATEDOWNLOAD", "", "toString", "Execute", "GetPeerId"})
    EXPECT_FALSE(object->_class->hasMethod(object, host.StringId(name))) << name;
}

TEST_F(ScriptMethods, WithoutAnEngineArgumentsAreJudgedFirstThenTheEngine) {
  for (const auto& c : Cases(ObjectArg(callback))) {
    bool completed = false;
    NPVariant result = Call(c.method, c.args, &completed);
    EXPECT_TRUE(completed) << c.method;
    ASSERT_EQ(NPVariantType_Int32, result.type) << c.method << " with " << c.args.size() << " arguments";
    EXPECT_EQ(c.refused ? 2 : 1, result.value.intValue) << c.method << " with " << c.args.size() << " arguments";
  }
  EXPECT_TRUE(host.Calls("NPN_InvokeDefault").empty());
}

TEST_F(ScriptMethods, OnADetachedObjectArgumentsAreJudgedFirstThenTheInstance) {
  DestroyInstance(instance);
  for (const auto& c : Cases(ObjectArg(callback))) {
    NPVariant result = Call(c.method, c.args);
    ASSERT_EQ(NPVariantType_Int32, result.type) << c.method;
    EXPECT_EQ(c.refused ? 2 : 3, result.value.intValue) << c.method << " with " << c.args.size() << " arguments";
  }
}

TEST_F(ScriptMethods, TheFourPlaceholdersAnswerUndefinedWhateverTheirArguments) {
  for (bool detached : {false, true}) {
    if (detached) DestroyInstance(instance);
    for (const char* name : kNoOps) {
      for (const auto& args : {std::vector<NPVariant>{}, std::vector<NPVariant>{S(), N(), BoolArg(false)}}) {
        bool completed = false;
        NPVariant result = Call(name, args, &completed);
        EXPECT_TRUE(completed) << name;
        EXPECT_EQ(NPVariantType_Void, result.type) << name;
      }
    }
  }
}

TEST_F(ScriptMethods, TextGettersWithoutAnEngineAnswerAStatusNotAString) {
  for (const char* name : {"GetPeerID", "GetIP"}) {
    NPVariant result = Call(name, {});
    ASSERT_EQ(NPVariantType_Int32, result.type) << name;
    EXPECT_EQ(1, result.value.intValue);
  }
  EXPECT_TRUE(host.Calls("NPN_MemAlloc").empty());
}

}  // namespace
