// Every Config setting: kept in the settings file across restarts, refused
// when out of range, and in effect: proxy with credentials, one connection
// per task, the write buffer, the client version.
#include <cwctype>

#include "tests/download_engine/engine_fixture.h"

namespace {

class Settings : public EngineTest {
 protected:
  struct Values {
    long upnp = -1, limit = -1, upload = -1, cache = -1, max = -1, autoStart = -1, udp = -1, single = -1;
    bool operator==(const Values& o) const {
      return upnp == o.upnp && limit == o.limit && upload == o.upload && cache == o.cache && max == o.max &&
             autoStart == o.autoStart && udp == o.udp && single == o.single;
    }
  };
  static Values Read(IConfig* config) {
    Values v;
    EXPECT_EQ(S_OK, config->GetUPnP(&v.upnp));
    EXPECT_EQ(S_OK, config->GetLimitSpeed(0, &v.limit));
    EXPECT_EQ(S_OK, config->GetLimitSpeed(1, &v.upload));
    EXPECT_EQ(S_OK, config->GetDiskCache(&v.cache));
    EXPECT_EQ(S_OK, config->GetMaxDownloadCount(&v.max));
    EXPECT_EQ(S_OK, config->GetAutoStart(&v.autoStart));
    EXPECT_EQ(S_OK, config->GetUDPPort(&v.udp));
    EXPECT_EQ(S_OK, config->GetDownloadSingleThread(&v.single));
    return v;
  }
  static IConfig* BareConfig() {
    CLSID clsid;
    IConfig* config = nullptr;
    EXPECT_EQ(S_OK, CLSIDFromProgID(kConfigProgId, &clsid));
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConfig,
                                     reinterpret_cast<void**>(&config)));
    return config;
  }
  static std::wstring PeerId(IConfig* config) {
    BSTR id = nullptr;
    EXPECT_EQ(S_OK, config->GetPeerID(&id));
    return TakeBstr(id);
  }
};

TEST_F(Settings, EverySettingIsKeptAcrossARestart) {
  ASSERT_EQ(S_OK, config->SetUPnP(1));
  ASSERT_EQ(S_OK, config->SetLimitSpeed(700, 55));
  ASSERT_EQ(S_OK, config->SetDiskCache(2048));
  ASSERT_EQ(S_OK, config->SetMaxDownloadCount(3));
  ASSERT_EQ(S_OK, config->SetAutoStart(1));
  ASSERT_EQ(S_OK, config->SetUDPPort(16881));
  ASSERT_EQ(S_OK, config->SetDownloadSingleThread(1));
  Bstr host(L"proxy.example"), user(L"someone"), password(L"p4ss"), bypass(L"<local>"), kind(L"http");
  ASSERT_EQ(S_OK, config->SetProxy(host, 3128, user, password, bypass, kind));
  Values set = Read(config);
  EXPECT_EQ(1, set.upnp);
  EXPECT_EQ(700, set.limit);
  EXPECT_EQ(55, set.upload);
  EXPECT_EQ(2048, set.cache);
  EXPECT_EQ(3, set.max);
  EXPECT_EQ(1, set.autoStart);
  EXPECT_EQ(16881, set.udp);
  EXPECT_EQ(1, set.single);
  std::wstring id = PeerId(config);
  ASSERT_EQ(40u, id.size());
  for (wchar_t c : id) EXPECT_TRUE(iswxdigit(c) && !iswlower(c)) << "the peer id is upper-case hexadecimal";

  StopEngine();
  std::string file = ReadBytes(Home() + L"\\settings.txt");
  EXPECT_NE(std::string::npos, file.find("max_downloads=3"));
  EXPECT_NE(std::string::npos, file.find("proxy_host=proxy.example"));
  EXPECT_EQ(std::string::npos, file.find("p4ss")) << "the proxy password is not kept in clear";
  IConfig* fresh = BareConfig();
  EXPECT_TRUE(set == Read(fresh)) << "read back after the restart";
  EXPECT_EQ(id, PeerId(fresh)) << "the peer id is stable";
  fresh->Release();
}

TEST_F(Settings, ValuesOutOfRangeAreRefusedAndChangeNothing) {
  Values before = Read(config);
  Bstr empty(L""), host(L"proxy.example"), socks(L"socks5");
  EXPECT_EQ(E_INVALIDARG, config->SetLimitSpeed(-1, 0));
  EXPECT_EQ(E_INVALIDARG, config->SetMaxDownloadCount(0));
  EXPECT_EQ(E_INVALIDARG, config->SetMaxDownloadCount(101));
  EXPECT_EQ(E_INVALIDARG, config->SetUDPPort(0));
  EXPECT_EQ(E_INVALIDARG, config->SetUDPPort(65536));
  EXPECT_EQ(E_INVALIDARG, config->SetDiskCache(-1));
  EXPECT_EQ(E_INVALIDARG, config->SetProxy(host, 0, empty, empty, empty, empty));
  EXPECT_EQ(E_INVALIDARG, config->SetProxy(host, 8080, empty, empty, empty, socks));
  long value = 0;
  EXPECT_EQ(E_INVALIDARG, config->GetLimitSpeed(2, &value));
  EXPECT_EQ(E_POINTER, config->GetDiskCache(nullptr));
  EXPECT_TRUE(before == Read(config));
}

TEST_F(Settings, TheAddressIsADottedQuad) {
  BSTR address = nullptr;
  ASSERT_EQ(S_OK, config->GetIP(&address));
  std::wstring text = TakeBstr(address);
  unsigned a, b, c, d;
  ASSERT_EQ(4, swscanf(text.c_str(), L"%u.%u.%u.%u", &a, &b, &c, &d)) << std::string(text.begin(), text.end());
  EXPECT_TRUE(a < 256 && b < 256 && c < 256 && d < 256);
}

TEST_F(Settings, DownloadsGoThroughTheProxyWithItsCredentials) {
  LoopbackServer::Options options;
  options.https = false;
  options.proxyAuth = "agent:s3cret";
  LoopbackServer proxy(options);
  ASSERT_TRUE(proxy.Running()) << proxy.Problem();
  Bstr host(L"127.0.0.1"), user(L"agent"), password(L"s3cret"), wrong(L"nope"), none(L""), kind(L"http");
  ASSERT_EQ(S_OK, config->SetProxy(host, proxy.HttpPort(), user, password, none, kind));
  // A host that does not exist: only the proxy can answer for it.
  std::wstring url = L"http://files.invalid/data?size=120000&seed=90&tag=proxied";
  Create(url, L"proxied.bin");
  ExpectDownloaded(url, L"proxied.bin", 120000, 90);
  EXPECT_LE(1, std::stoi(proxy.Stats(L"proxied")["proxied"]));

  ASSERT_EQ(S_OK, config->SetProxy(host, proxy.HttpPort(), user, wrong, none, kind));
  std::wstring refused = L"http://files.invalid/data?size=100&seed=91&tag=refused";
  Create(refused, L"refused.bin");
  EngineEvent failed = ExpectFailed(refused);
  EXPECT_EQ(407, failed.errorCode);
  EXPECT_NE(std::wstring::npos, failed.message.find(L"proxy"));

  Bstr direct(L"none");
  ASSERT_EQ(S_OK, config->SetProxy(none, 0, none, none, none, direct));
  std::wstring local = Server().DataUrl(1000, 92, L"direct");
  Create(local, L"direct.bin");
  ExpectDownloaded(local, L"direct.bin", 1000, 92);
}

TEST_F(Settings, SingleThreadMeansOneConnectionPerTask) {
  ASSERT_EQ(S_OK, config->SetDownloadSingleThread(1));
  std::wstring url = Server().DataUrl(3 * 1024 * 1024, 93, L"single");
  Create(url, L"single.bin", 8);
  ExpectDownloaded(url, L"single.bin", 3 * 1024 * 1024, 93);
  auto stats = Server().Stats(L"single");
  EXPECT_EQ("none", stats["ranges"]) << "one plain request";
  EXPECT_EQ("1", stats["max_active"]);
}

TEST_F(Settings, ANoCacheWriteStillGivesTheExactFile) {
  ASSERT_EQ(S_OK, config->SetDiskCache(0));
  std::wstring url = Server().DataUrl(2 * 1024 * 1024 + 5, 94, L"nocache");
  Create(url, L"nocache.bin", 3);
  ExpectDownloaded(url, L"nocache.bin", 2 * 1024 * 1024 + 5, 94);
}

TEST_F(Settings, TheClientVersionIsTheUserAgent) {
  Bstr version(L"HalvoTest/2.5 (compatible)");
  ASSERT_EQ(S_OK, config->SetClientVersion(version));
  std::wstring url = Server().DataUrl(10, 95, L"agent");
  Create(url, L"agent.bin");
  ExpectDownloaded(url, L"agent.bin", 10, 95);
  EXPECT_EQ("HalvoTest/2.5 (compatible)", Server().Stats(L"agent")["user_agent"]);
}

}  // namespace
