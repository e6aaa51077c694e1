// The settings store on its own, over a file in a folder of the test's own: a
// change its rule refuses leaves the value and the file as they were, an
// accepted one is in the file at once, and a session opened again finds what
// the last one left, its peer id included.
#include <gtest/gtest.h>
#include <windows.h>

#include "download_engine/atomic_file.h"
#include "download_engine/settings_store.h"

namespace {

using namespace engine;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"halvo-settings-store-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileW(File().c_str());
    DeleteFileW((File() + L".damaged").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  std::wstring File() const { return folder_ + L"\\settings.txt"; }
  std::string Bytes() const {
    std::string bytes;
    ReadWholeFile(File(), &bytes);
    return bytes;
  }
  std::wstring folder_;
};

TEST_F(SettingsStoreTest, ARefusedChangeLeavesValueAndFileAndAnAcceptedOneIsWrittenAtOnce) {
  SettingsStore store;
  store.Open(folder_);
  const std::string fresh = Bytes();
  ASSERT_FALSE(fresh.empty()) << "the first session writes its peer id";
  ProxySettings badProxy;
  badProxy.host = L"proxy\r\nX-Injected: 1";
  badProxy.port = 8080;
  const struct {
    const char* what;
    Status (*change)(SettingsStore&, const ProxySettings&);
  } refused[] = {
      {"a negative limit", [](SettingsStore& s, const ProxySettings&) { return s.SetLimits(-1, 0); }},
      {"a port out of range", [](SettingsStore& s, const ProxySettings&) { return s.SetNumber(&Settings::udpPort, 70000); }},
      {"no download slot", [](SettingsStore& s, const ProxySettings&) { return s.SetNumber(&Settings::maxDownloads, 0); }},
      {"a proxy host with a line break", [](SettingsStore& s, const ProxySettings& p) { return s.SetProxy(p); }},
      {"a client version with a line break",
       [](SettingsStore& s, const ProxySettings&) { return s.SetClientVersion(L"Agent\r\nX-Injected: 1"); }},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(E_INVALIDARG, c.change(store, badProxy).result) << c.what;
    EXPECT_EQ(fresh, Bytes()) << c.what;
  }
  EXPECT_EQ(6881, store.Values().udpPort);
  EXPECT_EQ(5, store.Values().maxDownloads);
  long limit = -5;
  EXPECT_EQ(E_INVALIDARG, store.GetLimit(2, &limit).result);

  ASSERT_EQ(S_OK, store.SetLimits(64, 8).result);
  ASSERT_EQ(S_OK, store.SetNumber(&Settings::maxDownloads, 2).result);
  ASSERT_EQ(S_OK, store.SetFlag(&Settings::autoStart, false).result);
  ASSERT_EQ(S_OK, store.GetLimit(1, &limit).result);
  EXPECT_EQ(8, limit);
  SettingsStore again;
  again.Open(folder_);
  EXPECT_EQ(64, again.Values().downloadLimitKiB);
  EXPECT_EQ(2, again.Values().maxDownloads);
  EXPECT_FALSE(again.Values().autoStart);
  EXPECT_EQ(store.Values().peerId, again.Values().peerId) << "made once, kept";
  EXPECT_FALSE(again.Values().peerId.empty());
}

TEST_F(SettingsStoreTest, ADamagedFileIsSetAsideAndTheDefaultsAreWritten) {
  const std::string damaged = "max_downloads=5\nthis line is no setting\n";
  ASSERT_EQ(0u, ReplaceFileContent(File(), damaged));
  SettingsStore store;
  store.Open(folder_);
  EXPECT_EQ(5, store.Values().maxDownloads);
  std::string aside;
  ASSERT_TRUE(ReadWholeFile(File() + L".damaged", &aside));
  EXPECT_EQ(damaged, aside);
  EXPECT_NE(damaged, Bytes()) << "a sound file in its place";
}

}  // namespace
