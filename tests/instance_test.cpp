// The plug-in instance through the module's entry points: the scriptable
// object's references in every teardown order, GetValue, and window subclassing
// with real windows. No engine is registered here.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "tests/support/debug_output.h"
#include "tests/support/module_fixture.h"

namespace {

class Instance : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    instance = NewInstance();
    ASSERT_NE(nullptr, instance->pdata);
  }
  NPObject* ScriptObject() {
    NPObject* object = nullptr;
    EXPECT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object));
    return object;
  }
  NPP instance = nullptr;
};

TEST_F(Instance, AsksToBeWindowedAndAnswersTheInstanceVariables) {
  auto setValue = host.Calls("NPN_SetValue");
  ASSERT_EQ(1u, setValue.size());
  EXPECT_EQ(std::to_string(NPPVpluginWindowBool), setValue[0].args[1]);
  NPBool xembed = false;
  EXPECT_EQ(NPERR_NO_ERROR, plugin.getvalue(instance, NPPVpluginNeedsXEmbed, &xembed));
  EXPECT_TRUE(xembed);
  const char* untouched = "unchanged";
  for (NPPVariable variable : {NPPVpluginNameString, NPPVpluginDescriptionString, NPPVpluginWindowBool}) {
    EXPECT_EQ(NPERR_GENERIC_ERROR, plugin.getvalue(instance, variable, &untouched)) << variable;
    EXPECT_STREQ("unchanged", untouched);
  }
}

TEST_F(Instance, TheScriptableObjectIsMadeOnceAndRetainedForEveryHandOut) {
  NPObject* first = ScriptObject();
  NPObject* second = ScriptObject();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(1u, host.Calls("NPN_CreateObject").size());
  EXPECT_EQ(2u, host.Calls("NPN_RetainObject").size());
  EXPECT_EQ(3u, host.ReferenceCount(first));  // the instance's own and two hand-outs
  // A host that releases each answer leaves the object alive for the next request.
  host.ReleaseObject(first);
  host.ReleaseObject(second);
  EXPECT_TRUE(host.IsLive(first));
  EXPECT_EQ(first, ScriptObject());
  host.ReleaseObject(first);
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_FALSE(host.IsLive(first));
}

TEST_F(Instance, AFailedCreationIsTriedAgainAtTheNextRequest) {
  host.failCreateObject = true;
  NPObject* object = reinterpret_cast<NPObject*>(0x1);
  EXPECT_EQ(NPERR_OUT_OF_MEMORY_ERROR, plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object));
  EXPECT_EQ(reinterpret_cast<NPObject*>(0x1), object);
  host.failCreateObject = false;
  object = ScriptObject();
  ASSERT_NE(nullptr, object);
  EXPECT_EQ(2u, host.Calls("NPN_CreateObject").size());
  host.ReleaseObject(object);
}

TEST_F(Instance, HostReleasesAfterDestroyTheObjectOutlivesItsInstanceDetached) {
  NPObject* object = ScriptObject();
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  ASSERT_TRUE(host.IsLive(object));
  EXPECT_EQ(1u, host.ReferenceCount(object));
  NPVariant result;
  EXPECT_FALSE(host.Invoke(object, "NoSuchMethod", {}, &result));  // still answers, safely
  host.ReleaseObject(object);
  EXPECT_FALSE(host.IsLive(object));
}

TEST_F(Instance, HostInvalidatesAndFreesTheObjectAfterDestroy) {
  NPObject* object = ScriptObject();
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  host.InvalidateAndDeallocate(object);
}

TEST_F(Instance, HostInvalidatesAndFreesTheObjectBeforeDestroy) {
  NPObject* object = ScriptObject();
  host.InvalidateAndDeallocate(object);
  host.ClearCalls();  // NPP_New released the page's objects it had asked for
  // The instance must neither release nor hand out the freed object.
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  EXPECT_TRUE(host.Calls("NPN_ReleaseObject").empty());
}

TEST_F(Instance, AfterTheHostFreedItANewRequestMakesANewObject) {
  NPObject* object = ScriptObject();
  host.InvalidateAndDeallocate(object);
  NPObject* again = ScriptObject();
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(2u, host.Calls("NPN_CreateObject").size());
  host.ReleaseObject(again);
}

TEST_F(Instance, DebuggerLinesFollowTheLifecycle) {
  DebugOutputCapture debugger;
  NPP other = NewInstance();
  DestroyInstance(other);
  EXPECT_THAT(debugger.Lines(),
              ::testing::ElementsAre("NPError HalvoPlugin::HalvoPlugin(void)\n", "NPError HalvoPlugin::Init\n",
                                     "NPError HalvoPlugin::UnInit\n", "NPError HalvoPlugin::~HalvoPlugin(void)\n"));
}

// ---- windows ----------------------------------------------------------------

std::vector<UINT> classMessages;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER) {
    classMessages.push_back(message);
    return 42;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Windows : public Instance {
 protected:
  void SetUp() override {
    Instance::SetUp();
    classMessages.clear();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"HalvoTestParent";
    RegisterClassW(&windowClass);
    a = CreateWindowExW(0, L"HalvoTestParent", L"A", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                        GetModuleHandleW(nullptr), nullptr);
    b = CreateWindowExW(0, L"HalvoTestParent", L"B", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                        GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, a) << "no windows: is Wine's null display driver set in the prefix?";
    ASSERT_NE(nullptr, b);
  }
  void TearDown() override {
    DestroyWindow(a);
    DestroyWindow(b);
    Instance::TearDown();
  }
  NPError Give(HWND hwnd) {
    NPWindow window = {};
    window.window = hwnd;
    window.width = 100;
    window.height = 100;
    window.type = NPWindowTypeWindow;
    return plugin.setwindow(instance, &window);
  }
  WNDPROC ProcOf(HWND hwnd) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)); }
  HWND a = nullptr;
  HWND b = nullptr;
};

TEST_F(Windows, SubclassedOnceRestoredOnANullWindowThenTheNextWindowIsSubclassed) {
  EXPECT_EQ(NPERR_NO_ERROR, Give(a));
  WNDPROC pluginProc = ProcOf(a);
  EXPECT_NE(reinterpret_cast<WNDPROC>(RecordingProc), pluginProc);
  EXPECT_EQ(instance->pdata, reinterpret_cast<void*>(GetWindowLongPtrW(a, GWLP_USERDATA)));

  // Every message goes to DefWindowProcW: the window's own procedure hears nothing.
  EXPECT_EQ(0, SendMessageW(a, WM_USER + 1, 0, 0));
  EXPECT_TRUE(classMessages.empty());

  EXPECT_EQ(NPERR_NO_ERROR, Give(a));
  EXPECT_EQ(pluginProc, ProcOf(a));

  EXPECT_EQ(NPERR_NO_ERROR, Give(nullptr));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(a));
  EXPECT_EQ(42, SendMessageW(a, WM_USER + 2, 0, 0));

  EXPECT_EQ(NPERR_NO_ERROR, Give(b));
  EXPECT_EQ(pluginProc, ProcOf(b));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(a));
}

TEST_F(Windows, AnotherWindowWhileSubclassedIsOnlyRecordedAndTheOldProcedureGoesBackToTheFirst) {
  Give(a);
  Give(b);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(b));
  Give(nullptr);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(a));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(b));
}

TEST_F(Windows, DestroyingTheInstanceGivesTheWindowItsProcedureBack) {
  Give(a);
  DestroyInstance(instance);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), ProcOf(a));
}

}  // namespace
