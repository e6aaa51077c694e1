// The test engine proven as the plug-in will meet it: classes registered in
// the prefix, objects made through CLSIDFromProgID and CoCreateInstance, the
// control functions read from the same DLL loaded by the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_interfaces.h"
#include "tests/support/task_event_args.h"
#include "tests/support/test_engine.h"
#include "tests/support/test_engine_registration.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Releases its interface at the end of the scope.
template <typename Interface>
class Ref {
 public:
  Ref() = default;
  explicit Ref(Interface* pointer) : pointer_(pointer) {}
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  Interface** out() {
    Reset();
    return &pointer_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

HRESULT CreateByProgId(const wchar_t* progId, REFIID iid, void** object) {
  CLSID clsid;
  HRESULT found = CLSIDFromProgID(progId, &clsid);
  if (found != S_OK) return found;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

// A BSTR owned by the test.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : text_(text != nullptr ? SysAllocString(text) : nullptr) {}
  Bstr(const wchar_t* text, UINT length) : text_(SysAllocStringLen(text, length)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return text_; }

 private:
  BSTR text_;
};

// The page side of the events: an IDispatch sink that keeps a copy of every
// invocation and counts its references (never freed: it lives on the stack).
class RecordingSink : public IDispatch {
 public:
  struct Invocation {
    DISPID dispid;
    DWORD thread;
    bool nullArray;
    UINT count;
    UINT named;
    std::vector<VARIANT> args;
  };

  explicit RecordingSink(bool answersEventInterface = true) : answersEventInterface_(answersEventInterface) {}
  ~RecordingSink() {
    for (Invocation& invocation : invocations_)
      for (VARIANT& value : invocation.args) VariantClear(&value);
    if (allInside_ != nullptr) CloseHandle(allInside_);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || (answersEventInterface_ && riid == DIID_ITaskEvents)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    Invocation invocation{dispid, GetCurrentThreadId(), params->rgvarg == nullptr, params->cArgs,
                          params->cNamedArgs, {}};
    for (UINT i = 0; params->rgvarg != nullptr && i < params->cArgs; ++i) {
      const VARIANT& given = params->rgvarg[i];
      VARIANT copy;
      VariantInit(&copy);
      if (V_VT(&given) == VT_BSTR) {
        // Wine's VariantCopy turns a null BSTR into an empty one; the difference matters here.
        V_VT(&copy) = VT_BSTR;
        V_BSTR(&copy) = V_BSTR(&given) != nullptr ? SysAllocStringLen(V_BSTR(&given), SysStringLen(V_BSTR(&given)))
                                                 : nullptr;
      } else if (VariantCopy(&copy, const_cast<VARIANT*>(&given)) != S_OK) {
        copy = given;
      }
      invocation.args.push_back(copy);
    }
    if (writeResult_ && result != nullptr) {
      V_VT(result) = VT_I4;
      V_I4(result) = 7;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      invocations_.push_back(std::move(invocation));
    }
    if (barrier_ > 0) {
      // Only invocations that overlap in time can all be inside at once.
      if (++inside_ == barrier_) SetEvent(allInside_);
      if (WaitForSingleObject(allInside_, 20000) == WAIT_OBJECT_0) ++metAtBarrier_;
    }
    return S_OK;
  }

  // Every invocation waits until count of them are inside Invoke together.
  void MeetAt(int count) {
    barrier_ = count;
    allInside_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }

  std::vector<Invocation> Invocations() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Invocation> copies;
    for (const Invocation& invocation : invocations_) copies.push_back(Invocation{
        invocation.dispid, invocation.thread, invocation.nullArray, invocation.count, invocation.named, {}});
    return copies;
  }
  const VARIANT& Arg(std::size_t invocation, std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return invocations_.at(invocation).args.at(index);
  }

  long References() const { return references_; }
  int MetAtBarrier() const { return metAtBarrier_; }
  bool writeResult_ = false;

 private:
  bool answersEventInterface_;
  std::atomic<long> references_{1};
  std::mutex mutex_;
  std::vector<Invocation> invocations_;
  int barrier_ = 0;
  std::atomic<int> inside_{0};
  std::atomic<int> metAtBarrier_{0};
  HANDLE allInside_ = nullptr;
};

std::wstring ReadValue(const std::wstring& key, const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"(missing)";
  return value;
}

// ---- Registration --------------------------------------------------------

class EngineRegistration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(EngineRegistration, ClassesAreFoundByProgIdWhileRegisteredAndGoneAfterwards) {
  {
    TestEngineRegistration registration;
    ASSERT_TRUE(registration.Succeeded());
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Download", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineDownload);
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Schedule", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineSchedule);
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"transfer.Config", &clsid));
    EXPECT_TRUE(clsid == CLSID_TestEngineConfig);
    const std::wstring server = L"CLSID\\{D566D654-870E-4996-85F2-9979D6A34707}\\InprocServer32";
    EXPECT_EQ(TestEngineRegistration::EnginePath(), ReadValue(server, nullptr));
    EXPECT_EQ(L"Apartment", ReadValue(server, L"ThreadingModel"));
    Ref<IDownload> download;
    EXPECT_EQ(S_OK, CreateByProgId(L"transfer.Download", IID_IDownload, download.outVoid()));
  }
  CLSID clsid;
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(L"transfer.Download", &clsid));
  Ref<IDownload> download;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestEngineDownload, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IDownload, download.outVoid()));
  EXPECT_EQ(L"(missing)", ReadValue(L"CLSID\\{D566D654-870E-4996-85F2-9979D6A34707}", nullptr));
}

TEST_F(EngineRegistration, ClassesLeftOutAreMissingEvenAfterAnEarlierFullRegistration) {
  auto earlier = std::make_unique<TestEngineRegistration>();
  earlier.reset();
  auto everything = std::make_unique<TestEngineRegistration>();
  TestEngineRegistration withoutConfig(kScheduleClass | kDownloadClass);  // replaces the full one
  ASSERT_TRUE(withoutConfig.Succeeded());
  CLSID clsid;
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"transfer.Schedule", &clsid));
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"transfer.Download", &clsid));
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(L"transfer.Config", &clsid));
  everything.release();  // its destructor would remove the newer registration too
}

// ---- The engine's objects -------------------------------------------------

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(registration.Succeeded());
    ASSERT_TRUE(engine.Loaded());
  }
  void TearDown() override {
    engine.ExpectClean();
    CoUninitialize();
  }

  template <typename Interface>
  void Create(const wchar_t* progId, REFIID iid, Ref<Interface>& object) {
    ASSERT_EQ(S_OK, CreateByProgId(progId, iid, object.outVoid())) << "creating " << QuoteText(progId);
    ASSERT_NE(nullptr, object.get());
  }

  TestEngineRegistration registration;
  TestEngine engine;
};

class EngineObjects : public EngineTest {};

TEST_F(EngineObjects, CreationThroughTheProgIdIsLoggedAndTheLastReleaseEndsTheObject) {
  {
    Ref<ISchedule> schedule;
    Ref<IConfig> config;
    Ref<IDownload> download;
    Create(L"transfer.Schedule", IID_ISchedule, schedule);
    Create(L"transfer.Config", IID_IConfig, config);
    Create(L"transfer.Download", IID_IDownload, download);
    EXPECT_EQ(3u, engine.ObjectCount());
    std::vector<EngineCall> calls = engine.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ("Schedule.CreateInstance(nullptr, ISchedule)", calls[0].Line());
    EXPECT_EQ(1u, calls[0].instance);
    EXPECT_EQ(S_OK, calls[0].result);
    EXPECT_EQ(1, engine.Object(L"Download")->references);
    engine.ClearLog();
  }
  EXPECT_EQ(0u, engine.ObjectCount());
  EXPECT_EQ(3u, engine.ObjectCount(nullptr, false));
  std::vector<std::string> lines = engine.Lines(true);
  EXPECT_THAT(lines, ElementsAre("Download.Destroy()", "Download.Release()", "Config.Destroy()", "Config.Release()",
                                 "Schedule.Destroy()", "Schedule.Release()"));
}

// Calls every own method of the three interfaces and checks the slot and
// name each was received at against the engine's contract.
TEST_F(EngineObjects, EveryMethodArrivesAtItsSlotWithItsArguments) {
  Ref<ISchedule> schedule;
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Schedule", IID_ISchedule, schedule);
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  Bstr a(L"a"), b(L"b"), c(L"c"), d(L"d"), e(L"e"), f(L"f"), g(L"g");
  long number = 0;
  BYTE byte = 0;
  BSTR text = nullptr;
  VARIANT list;
  VariantInit(&list);

  schedule->StartupStep1();
  schedule->StartupStep2();
  schedule->ShutdownStep();
  config->SetProxy(a, 8080, b, c, d, e);
  config->SetUPnP(1);
  config->GetUPnP(&number);
  config->SetLimitSpeed(100, -200);
  config->GetLimitSpeed(1, &number);
  config->SetDiskCache(3);
  config->GetDiskCache(&number);
  config->SetMaxDownloadCount(5);
  config->GetMaxDownloadCount(&number);
  config->SetAutoStart(0);
  config->GetAutoStart(&number);
  config->SetUDPPort(6881);
  config->GetUDPPort(&number);
  config->SetDownloadSingleThread(1);
  config->GetDownloadSingleThread(&number);
  config->GetPeerID(&text);
  config->GetIP(&text);
  config->SetClientVersion(a);
  download->StartupStep1();
  download->CreateDownload(a, b, c, d, 1, 2, &byte);
  download->StopDownload(a);
  download->DeleteDownload(a, 1);
  download->GetBlockStatusList(a, &text, &number);
  download->GetResourceSize(a, &number);
  download->SetCookie(a, 0);
  download->ClearCookie();
  download->GetTotalDownloadSpeed(&number);
  download->GetDownloadingCount(&number);
  download->StartupStep2();
  download->CancelDownload(a);
  download->ImportTask(a);
  download->Move(a, 255);
  download->ArchiveTask(1, a, 2, b, c, d, e, f, g, a, 3, 4, 0);
  download->ListWorkTasks(&list);
  VariantClear(&list);
  download->ListFinishedTasks(&list);
  VariantClear(&list);
  LONGLONG n1 = 0, n2 = 0;
  ULONG n3 = 0;
  BSTR t1 = nullptr, t2 = nullptr, t3 = nullptr, t4 = nullptr;
  byte = 0xFF;
  download->QueryTaskInfo(a, &t1, &t2, &t3, &byte, &n1, &n2, &n3, &t4);
  download->DeleteDownload2(a, b, 1);

  struct Expected {
    const char* object;
    const char* method;
    int slot;
  };
  const Expected expected[] = {
      {"Schedule", "StartupStep1", 7}, {"Schedule", "StartupStep2", 8}, {"Schedule", "ShutdownStep", 9},
      {"Config", "SetProxy", 7}, {"Config", "SetUPnP", 9}, {"Config", "GetUPnP", 10},
      {"Config", "SetLimitSpeed", 11}, {"Config", "GetLimitSpeed", 12}, {"Config", "SetDiskCache", 13},
      {"Config", "GetDiskCache", 14}, {"Config", "SetMaxDownloadCount", 15}, {"Config", "GetMaxDownloadCount", 16},
      {"Config", "SetAutoStart", 17}, {"Config", "GetAutoStart", 18}, {"Config", "SetUDPPort", 19},
      {"Config", "GetUDPPort", 20}, {"Config", "SetDownloadSingleThread", 21},
      {"Config", "GetDownloadSingleThread", 22}, {"Config", "GetPeerID", 23}, {"Config", "GetIP", 24},
      {"Config", "SetClientVersion", 25}, {"Download", "StartupStep1", 7}, {"Download", "CreateDownload", 8},
      {"Download", "StopDownload", 9}, {"Download", "DeleteDownload", 10}, {"Download", "GetBlockStatusList", 11},
      {"Download", "GetResourceSize", 12}, {"Download", "SetCookie", 14}, {"Download", "ClearCookie", 15},
      {"Download", "GetTotalDownloadSpeed", 16}, {"Download", "GetDownloadingCount", 17},
      {"Download", "StartupStep2", 18}, {"Download", "CancelDownload", 21}, {"Download", "ImportTask", 22},
      {"Download", "Move", 23}, {"Download", "ArchiveTask", 25}, {"Download", "ListWorkTasks", 26},
      {"Download", "ListFinishedTasks", 28}, {"Download", "QueryTaskInfo", 27}, {"Download", "DeleteDownload2", 29},
  };
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(sizeof expected / sizeof expected[0], calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(expected[i].object, std::string(calls[i].object.begin(), calls[i].object.end())) << i;
    EXPECT_EQ(expected[i].method, std::string(calls[i].method.begin(), calls[i].method.end())) << i;
    EXPECT_EQ(expected[i].slot, calls[i].slot) << expected[i].method;
    EXPECT_EQ(S_OK, calls[i].result) << expected[i].method;
    EXPECT_EQ(GetCurrentThreadId(), calls[i].thread);
  }
  EXPECT_EQ("Config.SetProxy(\"a\", 8080, \"b\", \"c\", \"d\", \"e\")", calls[3].Line());
  EXPECT_EQ("Config.SetLimitSpeed(100, -200)", calls[6].Line());
  EXPECT_EQ("Config.GetLimitSpeed(1, out 0)", calls[7].Line());
  EXPECT_EQ("Download.CreateDownload(\"a\", \"b\", \"c\", \"d\", 1, 2, out 0)", calls[22].Line());
  EXPECT_EQ("Download.Move(\"a\", 255)", calls[34].Line());
  EXPECT_EQ("Download.ArchiveTask(1, \"a\", 2, \"b\", \"c\", \"d\", \"e\", \"f\", \"g\", \"a\", 3, 4, 0)",
            calls[35].Line());
  EXPECT_EQ("Download.ListWorkTasks(out 0)", calls[36].Line());
  EXPECT_EQ(
      "Download.QueryTaskInfo(\"a\", out null, out null, out null, out 255, out 0, out 0, out 0, out null)",
      calls[38].Line());
}

TEST_F(EngineObjects, AHighSlotReachedThroughTheRawTableKeepsTextsExactly) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  // Slot 29 called by position, without the interface declaration.
  using DeleteDownload2 = HRESULT(STDMETHODCALLTYPE*)(IDownload*, BSTR, BSTR, long);
  auto slot29 = reinterpret_cast<DeleteDownload2>((*reinterpret_cast<void***>(download.get()))[29]);
  const wchar_t withNul[] = {L'k', 0, L'\x00e9', L'\x4e2d'};
  Bstr key(withNul, 4), empty(L"");
  EXPECT_EQ(S_OK, slot29(download.get(), key, nullptr, 1));
  EXPECT_EQ(S_OK, slot29(download.get(), empty, empty, 0));
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(29, calls[0].slot);
  EXPECT_EQ(std::wstring(withNul, 4), calls[0].args[0].text);
  EXPECT_EQ(TestEngineValue_NullText, calls[0].args[1].type);
  EXPECT_EQ("Download.DeleteDownload2(\"k\\u0000\\u00E9\\u4E2D\", null, 1)", calls[0].Line());
  EXPECT_EQ("Download.DeleteDownload2(\"\", \"\", 0)", calls[1].Line());
  EXPECT_EQ(TestEngineValue_Text, calls[1].args[1].type);

  Bstr a(L"a");
  download->ArchiveTask(0xFF, a, INT64_MIN, a, a, a, a, a, a, a, 0xFFFFFFFFu, 0x80, -1);
  EXPECT_EQ(INT64_MIN, engine.Calls().back().args[2].number);
  EXPECT_EQ("Download.ArchiveTask(255, \"a\", -9223372036854775808, \"a\", \"a\", \"a\", \"a\", \"a\", \"a\", "
            "\"a\", 4294967295, 128, -1)",
            engine.Calls().back().Line());
}

TEST_F(EngineObjects, PlaceholderAndDispatchSlotsAnswerNotImplementedAndAreLogged) {
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  engine.ClearLog();
  EXPECT_EQ(E_NOTIMPL, config->Unused8());
  EXPECT_EQ(E_NOTIMPL, download->Unused13());
  EXPECT_EQ(E_NOTIMPL, download->Unused19());
  EXPECT_EQ(E_NOTIMPL, download->Unused20());
  EXPECT_EQ(E_NOTIMPL, download->Unused24());
  UINT count = 99;
  EXPECT_EQ(E_NOTIMPL, download->GetTypeInfoCount(&count));
  EXPECT_EQ(0u, count);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(E_NOTIMPL, download->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  std::vector<EngineCall> calls = engine.Calls();
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(8, calls[0].slot);
  EXPECT_EQ(13, calls[1].slot);
  EXPECT_EQ(19, calls[2].slot);
  EXPECT_EQ(20, calls[3].slot);
  EXPECT_EQ(24, calls[4].slot);
  EXPECT_EQ("Download.GetTypeInfoCount()", calls[5].Line());
  EXPECT_EQ(3, calls[5].slot);
  EXPECT_EQ(6, calls[6].slot);
  EXPECT_EQ(4, calls[6].args[0].number);
}

TEST_F(EngineObjects, InterfacesOfOneObjectShareItsIdentityAndCount) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  Ref<IConnectionPointContainer> container;
  Ref<ISupportErrorInfo> errorInfo;
  Ref<IUnknown> viaDownload, viaContainer;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  ASSERT_EQ(S_OK, download->QueryInterface(IID_ISupportErrorInfo, errorInfo.outVoid()));
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IUnknown, viaDownload.outVoid()));
  ASSERT_EQ(S_OK, container->QueryInterface(IID_IUnknown, viaContainer.outVoid()));
  EXPECT_EQ(viaDownload.get(), viaContainer.get());
  EXPECT_EQ(5, engine.Object(L"Download")->references);

  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  void* none = &none;  // anything: a refusal writes null
  EXPECT_EQ(E_NOINTERFACE, config->QueryInterface(IID_IConnectionPointContainer, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ("Config.QueryInterface(IConnectionPointContainer)", engine.Lines().back());
  EXPECT_EQ(E_NOINTERFACE, engine.Calls().back().result);
}

TEST_F(EngineObjects, ReferenceCountsFollowEveryAddRefAndRelease) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  TestEngineObjectInfo before = *engine.Object(L"Download");
  EXPECT_EQ(2u, download->AddRef());
  EXPECT_EQ(3u, download->AddRef());
  EXPECT_EQ(2u, download->Release());
  TestEngineObjectInfo after = *engine.Object(L"Download");
  EXPECT_EQ(2, after.references);
  EXPECT_EQ(before.addRefs + 2, after.addRefs);
  EXPECT_EQ(before.releases + 1, after.releases);
  EXPECT_EQ(1u, download->Release());
  EXPECT_TRUE(engine.Object(L"Download")->live);
}

TEST_F(EngineObjects, ACallAfterTheLastReleaseIsAFaultNotACrash) {
  IDownload* download = nullptr;
  ASSERT_EQ(S_OK, CreateByProgId(L"transfer.Download", IID_IDownload, reinterpret_cast<void**>(&download)));
  EXPECT_EQ(0u, download->Release());
  EXPECT_FALSE(engine.Object(L"Download")->live);
  EXPECT_EQ(E_UNEXPECTED, download->StartupStep1());
  EXPECT_EQ(0u, download->Release());
  std::vector<std::wstring> faults = engine.Faults();
  ASSERT_EQ(2u, faults.size());
  EXPECT_EQ(L"Download.StartupStep1 called after the object's last Release", faults[0]);
  EXPECT_EQ(0, engine.Object(L"Download")->references);
  engine.ClearFaults();  // they were the point
}

TEST_F(EngineObjects, ATextThatIsNotABstrIsReportedAsAFault) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  static const wchar_t literal[] = L"plain text";
  download->StopDownload(const_cast<BSTR>(literal));
  EngineCall call = engine.Calls().back();
  EXPECT_EQ("Download.StopDownload(!\"plain text\")", call.Line());
  ASSERT_EQ(1u, engine.Faults().size());
  EXPECT_EQ(L"Download.StopDownload: argument 1 is not a live BSTR", engine.Faults()[0]);
  // Any real BSTR passes, an odd byte length included.
  BSTR odd = SysAllocStringByteLen("abc", 3);
  download->StopDownload(odd);
  SysFreeString(odd);
  EXPECT_EQ(1u, engine.Calls().back().args[0].text.size());
  EXPECT_EQ(0u, engine.Calls().back().args[0].flags);
  EXPECT_EQ(1u, engine.Faults().size());
  engine.ClearFaults();  // it was the point
}

// ---- Results and error descriptions ----------------------------------------

class EngineResults : public EngineTest {};

TEST_F(EngineResults, AFailingSlotHandsItsDescriptionToTheCallersThread) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  engine.Fail(L"Download", L"DeleteDownload2", E_ACCESSDENIED, L"the task is locked");
  Bstr key(L"k");
  EXPECT_EQ(E_ACCESSDENIED, download->DeleteDownload2(key, key, 0));
  Ref<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IDownload));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IConfig));
  Ref<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.out()));
  BSTR description = nullptr, source = nullptr;
  GUID guid{};
  info->GetDescription(&description);
  info->GetSource(&source);
  info->GetGUID(&guid);
  EXPECT_STREQ(L"the task is locked", description);
  EXPECT_STREQ(L"transfer.Download", source);
  EXPECT_TRUE(guid == IID_IDownload);
  SysFreeString(description);
  SysFreeString(source);
  EXPECT_EQ(E_ACCESSDENIED, engine.Calls()[engine.Calls().size() - 4].result);
}

TEST_F(EngineResults, AFailureWithoutDescriptionLeavesTheThreadsErrorObjectAlone) {
  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  Ref<ICreateErrorInfo> stale;
  ASSERT_EQ(S_OK, CreateErrorInfo(stale.out()));
  stale->SetDescription(const_cast<LPOLESTR>(L"stale"));
  Ref<IErrorInfo> staleInfo;
  stale->QueryInterface(IID_IErrorInfo, staleInfo.outVoid());
  SetErrorInfo(0, staleInfo.get());
  engine.Fail(L"Config", L"SetUDPPort", E_FAIL);
  engine.Fail(L"Config", L"InterfaceSupportsErrorInfo", S_FALSE);
  EXPECT_EQ(E_FAIL, config->SetUDPPort(1));
  Ref<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, config->QueryInterface(IID_ISupportErrorInfo, support.outVoid()));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IConfig));
  Ref<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.out()));
  EXPECT_EQ(staleInfo.get(), info.get());
}

TEST_F(EngineResults, SkipAndTimesChooseWhichCallsFail) {
  Ref<ISchedule> schedule;
  Create(L"transfer.Schedule", IID_ISchedule, schedule);
  engine.Fail(L"Schedule", L"StartupStep1", E_FAIL, nullptr, 1, 2);
  EXPECT_EQ(S_OK, schedule->StartupStep1());
  EXPECT_EQ(E_FAIL, schedule->StartupStep1());
  EXPECT_EQ(E_FAIL, schedule->StartupStep1());
  EXPECT_EQ(S_OK, schedule->StartupStep1());
  engine.Fail(L"Schedule", L"StartupStep2", E_ABORT, nullptr, 1);  // after one, every call
  EXPECT_EQ(S_OK, schedule->StartupStep2());
  EXPECT_EQ(E_ABORT, schedule->StartupStep2());
  EXPECT_EQ(E_ABORT, schedule->StartupStep2());
  EXPECT_EQ(S_OK, schedule->ShutdownStep());
}

TEST_F(EngineResults, ASuccessCodeFromARuleStillDoesTheWork) {
  Ref<IConfig> config;
  Create(L"transfer.Config", IID_IConfig, config);
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetUDPPort", 6881));
  engine.Fail(L"Config", L"GetUDPPort", S_FALSE);
  long port = 0;
  EXPECT_EQ(S_FALSE, config->GetUDPPort(&port));
  EXPECT_EQ(6881, port);
  engine.Fail(L"Config", L"GetDiskCache", E_FAIL);
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetDiskCache", 5));
  long size = 17;
  EXPECT_EQ(E_FAIL, config->GetDiskCache(&size));
  EXPECT_EQ(17, size);  // a failed call leaves its outs
}

TEST_F(EngineResults, CreationOfOneClassFailsWhenTold) {
  engine.Fail(L"Config", L"CreateInstance", E_OUTOFMEMORY);
  Ref<IConfig> config;
  EXPECT_EQ(E_OUTOFMEMORY, CreateByProgId(L"transfer.Config", IID_IConfig, config.outVoid()));
  EXPECT_EQ(nullptr, config.get());
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  EXPECT_EQ(0u, engine.ObjectCount(L"Config", false));
  EXPECT_EQ("Config.CreateInstance(nullptr, IConfig)", engine.Lines()[0]);
  EXPECT_EQ(E_OUTOFMEMORY, engine.Calls()[0].result);
}

TEST_F(EngineResults, TheConnectionSetupFailsAtTheStepTold) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  Ref<IConnectionPointContainer> container;
  TestEngineRule refuseOnce{L"Download", L"QueryInterface", &IID_IConnectionPointContainer, E_NOINTERFACE,
                            nullptr, 0, 1};
  ASSERT_EQ(S_OK, engine.AddRule(refuseOnce));
  Ref<IDispatch> dispatch;
  EXPECT_EQ(S_OK, download->QueryInterface(IID_IDispatch, dispatch.outVoid()));  // other identifiers answer
  EXPECT_EQ(E_NOINTERFACE, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  EXPECT_EQ(nullptr, container.get());
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IConnectionPointContainer, container.outVoid()));
  Ref<IConnectionPoint> point;
  engine.Fail(L"Download", L"FindConnectionPoint", E_UNEXPECTED, nullptr, 0, 1);
  EXPECT_EQ(E_UNEXPECTED, container->FindConnectionPoint(DIID_ITaskEvents, point.out()));
  EXPECT_EQ(nullptr, point.get());
  ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_ITaskEvents, point.out()));
  engine.Fail(L"ConnectionPoint", L"Advise", CONNECT_E_ADVISELIMIT);
  RecordingSink sink;
  DWORD cookie = 77;
  EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&sink, &cookie));
  EXPECT_EQ(0u, cookie);
  EXPECT_EQ(1, sink.References());
  ASSERT_TRUE(engine.Object(L"Download"));
  EXPECT_EQ(0u, engine.Object(L"Download")->sinks);
}

TEST_F(EngineResults, UnknownNamesAreRefused) {
  TestEngineRule rule{L"Download", L"NoSuchMethod", nullptr, E_FAIL, nullptr, 0, 0};
  EXPECT_EQ(E_INVALIDARG, engine.AddRule(rule));
  rule.object = L"Scheduler";
  rule.method = L"StartupStep1";
  EXPECT_EQ(E_INVALIDARG, engine.AddRule(rule));
  rule.object = L"Config";
  rule.method = L"Unused8";
  EXPECT_EQ(S_OK, engine.AddRule(rule));
  EXPECT_EQ(E_INVALIDARG, engine.SetOutNumber(L"GetPeerID", 1));
  EXPECT_EQ(E_INVALIDARG, engine.SetOutText(L"GetUDPPort", L"x"));
  EXPECT_EQ(E_INVALIDARG, engine.SetList(L"QueryTaskInfo", {}));
}

// ---- Out values -------------------------------------------------------------

class EngineOuts : public EngineTest {};

TEST_F(EngineOuts, ListsAreFreshArraysOfBstrVariantsWithNullItemsKept) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  ASSERT_EQ(S_OK, engine.SetList(L"ListWorkTasks", {std::wstring(L"k1"), std::nullopt, std::wstring(L"")}));
  VARIANT first, second;
  VariantInit(&first);
  VariantInit(&second);
  ASSERT_EQ(S_OK, download->ListWorkTasks(&first));
  ASSERT_EQ(S_OK, download->ListWorkTasks(&second));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&first));
  EXPECT_NE(V_ARRAY(&first), V_ARRAY(&second));
  SAFEARRAY* list = V_ARRAY(&first);
  EXPECT_EQ(1u, SafeArrayGetDim(list));
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(list, 1, &lower);
  SafeArrayGetUBound(list, 1, &upper);
  EXPECT_EQ(0, lower);
  EXPECT_EQ(2, upper);
  VARIANT* items = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(list, reinterpret_cast<void**>(&items)));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(VT_BSTR, V_VT(&items[i]));
  EXPECT_STREQ(L"k1", V_BSTR(&items[0]));
  EXPECT_EQ(nullptr, V_BSTR(&items[1]));
  ASSERT_NE(nullptr, V_BSTR(&items[2]));
  EXPECT_EQ(0u, SysStringLen(V_BSTR(&items[2])));
  SafeArrayUnaccessData(list);
  VariantClear(&first);
  VariantClear(&second);

  VARIANT finished;
  VariantInit(&finished);
  ASSERT_EQ(S_OK, download->ListFinishedTasks(&finished));  // never set: empty
  SafeArrayGetLBound(V_ARRAY(&finished), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&finished), 1, &upper);
  EXPECT_EQ(-1, upper - lower);
  VariantClear(&finished);
  EXPECT_EQ(3u, engine.Ledger().listsHandedOut);
  EXPECT_EQ(4u, engine.Ledger().itemsHandedOut);
}

TEST_F(EngineOuts, AListKeepsTheLowerBoundItWasGiven) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  ASSERT_EQ(S_OK, engine.SetList(L"ListFinishedTasks", {std::wstring(L"a"), std::wstring(L"b")}, 3));
  VARIANT list;
  VariantInit(&list);
  ASSERT_EQ(S_OK, download->ListFinishedTasks(&list));
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
  EXPECT_EQ(3, lower);
  EXPECT_EQ(4, upper);
  VARIANT item;
  VariantInit(&item);
  LONG index = 4;
  ASSERT_EQ(S_OK, SafeArrayGetElement(V_ARRAY(&list), &index, &item));
  EXPECT_STREQ(L"b", V_BSTR(&item));
  VariantClear(&item);
  VariantClear(&list);
}

TEST_F(EngineOuts, TaskInfoIsAnsweredPerKeyAndAnUnknownKeyLeavesEveryPreset) {
  Ref<IDownload> download;
  Create(L"transfer.Download", IID_IDownload, download);
  TestEngineTaskInfo known{L"name", nullptr, L"", L"\x00fc", TRUE, 2, -5, INT64_MAX, 0xFFFFFFFFu};
  ASSERT_EQ(S_OK, engine.SetTaskInfo(L"k1", &known));
  TestEngineTaskInfo stateless{L"x", L"y", L"z", L"w", FALSE, 0, 1, 2, 3};
  ASSERT_EQ(S_OK, engine.SetTaskInfo(L"k2", &stateless));

  struct Outs {
    BSTR texts[4] = {nullptr, nullptr, nullptr, nullptr};
    BYTE state = 0xFF;
    LONGLONG number1 = 11, number2 = 12;
    ULONG number3 = 13;
    ~Outs() {
      for (BSTR text : texts) SysFreeString(text);
    }
  };
  auto query = [&](const wchar_t* key, Outs& outs) {
    Bstr keyText(key);
    return download->QueryTaskInfo(keyText, &outs.texts[0], &outs.texts[1], &outs.texts[2], &outs.state,
                                   &outs.number1, &outs.number2, &outs.number3, &outs.texts[3]);
  };
  Outs one, two, three;
  ASSERT_EQ(S_OK, query(L"k1", one));
  EXPECT_STREQ(L"name", one.texts[0]);
  EXPECT_EQ(nullptr, one.texts[1]);
  ASSERT_NE(nullptr, one.texts[2]);
  EXPECT_EQ(0u, SysStringLen(one.texts[2]));
  EXPECT_STREQ(L"\x00fc", one.texts[3]);
  EXPECT_EQ(2, one.state);
  EXPECT_EQ(-5, one.number1);
  EXPECT_EQ(INT64_MAX, one.number2);
  EXPECT_EQ(0xFFFFFFFFu, one.number3);

  ASSERT_EQ(S_OK, query(L"k2", two));
  EXPECT_EQ(0xFF, two.state);
  EXPECT_STREQ(L"w", two.texts[3]);
  EXPECT_EQ(3u, two.number3);

  ASSERT_EQ(S_OK, query(L"K1", three));  // keys compare exactly
  EXPECT_EQ(0xFF, three.state);
  EXPECT_EQ(nullptr, three.texts[0]);
  EXPECT_EQ(11, three.number1);
  EXPECT_EQ(13u, three.number3);
  EXPECT_EQ(7u, engine.Ledger().textsHandedOut);  // the null text is not a BSTR
}

TEST_F(EngineOuts, TextsAndNumbersComeOutAsSetAndOnlyThen) {
  Ref<IConfig> config;
  Ref<IDownload> download;
  Create(L"transfer.Config", IID_IConfig, config);
  Create(L"transfer.Download", IID_IDownload, download);
  BSTR peer = reinterpret_cast<BSTR>(static_cast<intptr_t>(-1));  // uninitialised storage
  EXPECT_EQ(S_OK, config->GetPeerID(&peer));
  EXPECT_EQ(nullptr, peer);  // not set: a null BSTR
  EXPECT_THAT(engine.Lines().back(), HasSubstr("GetPeerID(out ptr)"));
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetPeerID", L"peer-1"));
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetIP", L""));
  BSTR ip = nullptr;
  EXPECT_EQ(S_OK, config->GetPeerID(&peer));
  EXPECT_EQ(S_OK, config->GetIP(&ip));
  EXPECT_STREQ(L"peer-1", peer);
  ASSERT_NE(nullptr, ip);
  EXPECT_EQ(0u, SysStringLen(ip));
  SysFreeString(peer);
  SysFreeString(ip);

  long upnp = 42;
  EXPECT_EQ(S_OK, config->GetUPnP(&upnp));
  EXPECT_EQ(42, upnp);  // not set: left as it was
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetUPnP", 1));
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"CreateDownload", 1));
  EXPECT_EQ(S_OK, config->GetUPnP(&upnp));
  EXPECT_EQ(1, upnp);
  BYTE created = 0;
  Bstr a(L"a");
  download->CreateDownload(a, a, a, a, 0, 0, &created);
  EXPECT_EQ(1, created);
  ASSERT_EQ(S_OK, engine.SetOutText(L"GetBlockStatusList", L"0101"));
  ASSERT_EQ(S_OK, engine.SetOutNumber(L"GetBlockStatusList", 4));
  BSTR blocks = nullptr;
  long count = 0;
  EXPECT_EQ(S_OK, download->GetBlockStatusList(a, &blocks, &count));
  EXPECT_STREQ(L"0101", blocks);
  EXPECT_EQ(4, count);
  SysFreeString(blocks);
}

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
