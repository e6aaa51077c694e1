// Servers that lie or misbehave: a length no disk holds, a body that never
// ends, a redirect from https to http, redirect targets with dot segments,
// and redirects to another origin, which must get neither the page's address
// nor the resource's validator. Each ends in a finished file or a failed task
// with its reason, and the engine goes on working.
#include "tests/download_engine/task_fixture.h"

namespace {

using HostileServer = TaskTest;

std::string Text(const std::wstring& text) { return std::string(text.begin(), text.end()); }
bool Mentions(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// (2^32 + 4) MiB: a block count of 2^32 + 4, which a 32-bit size_t holds as 4.
const wchar_t kHugeLength[] = L"4503599631564800";

TEST_F(HostileServer, AHugeAnnouncedLengthFailsAtOnceAndTheBlockListStaysBounded) {
  std::wstring url = Server().DataUrl(200000, 100, L"huge", std::wstring(L"announce=") + kHugeLength);
  Create(url, L"huge.bin");
  EngineEvent failed = ExpectFailed(url);
  EXPECT_TRUE(Mentions(failed.message, std::wstring(L"not enough disk space: ") + kHugeLength + L" bytes needed, "))
      << Text(failed.message);
  EXPECT_EQ(112, failed.errorCode) << "ERROR_DISK_FULL";
  EXPECT_EQ(4503599631564800LL, failed.size);
  EXPECT_FALSE(Exists(Downloads(L"huge.bin.part"))) << "nothing was written";

  Bstr key(url);
  BSTR text = nullptr;
  long count = -1;
  ASSERT_EQ(S_OK, download->GetBlockStatusList(key, &text, &count));
  std::wstring blocks = TakeBstr(text);
  EXPECT_EQ(static_cast<size_t>(count), blocks.size());
  EXPECT_LE(count, 16384) << "the text of a huge file is coarsened";
  EXPECT_GT(count, 8192);
  EXPECT_EQ(std::wstring::npos, blocks.find_first_not_of(L'0'));
  long size = 0;
  ASSERT_EQ(S_OK, download->GetResourceSize(key, &size));
  EXPECT_EQ(2147483647, size);
  LONGLONG querySize = 0;
  EXPECT_EQ(4, Query(url, &querySize));
  EXPECT_EQ(4503599631564800LL, querySize);

  // Past what any disk holds, and past what a signed 64-bit number holds.
  for (const wchar_t* length : {L"9007199254740993", L"9223372036854775807", L"18446744073709551616"}) {
    std::wstring beyond = Server().DataUrl(1000, 100, L"beyond", std::wstring(L"announce=") + length);
    Create(beyond);
    EngineEvent refused = ExpectFailed(beyond);
    EXPECT_FALSE(refused.message.empty()) << Text(length);
    EXPECT_LE(refused.size, 9007199254740992LL) << "no size beyond the bound is taken: " << Text(length);
  }

  std::wstring after = Server().DataUrl(50000, 101, L"after-huge");
  Create(after, L"after.bin");
  ExpectDownloaded(after, L"after.bin", 50000, 101);
}

class UnsizedLimit : public TaskTest {
 protected:
  std::string Tuning() const override { return TaskTest::Tuning() + "max_unsized_mib=1\n"; }
};

TEST_F(UnsizedLimit, ABodyThatNeverEndsStopsAtTheConfiguredMaximum) {
  std::wstring url = Server().DataUrl(0, 102, L"endless", L"endless=1");
  Create(url, L"endless.bin");
  EngineEvent failed = ExpectFailed(url, 20000);
  EXPECT_TRUE(Mentions(failed.message, L"more than 1 MiB without announcing a size")) << Text(failed.message);
  std::string partial = ReadBytes(Downloads(L"endless.bin.part"));
  EXPECT_EQ(size_t(1) << 20, partial.size()) << "exactly the maximum, kept";
  EXPECT_TRUE(partial == LoopbackServer::Content(1 << 20, 102)) << "the bytes the server sent, in order";

  // A body without a length below the maximum is a normal download.
  std::wstring small = Server().DataUrl(300000, 103, L"chunked", L"chunked=1");
  Create(small, L"chunked.bin");
  ExpectDownloaded(small, L"chunked.bin", 300000, 103);
}

TEST_F(HostileServer, ARedirectFromHttpsToHttpFailsTheTaskAndTheHttpAddressIsNeverAsked) {
  std::wstring plain = Server().DataUrl(1000, 104, L"downgrade");
  std::wstring down = Server().SecureUrl(L"/redirect?to=" + QueryValue(plain));
  Create(down, L"down.bin");
  EngineEvent failed = ExpectFailed(down);
  EXPECT_EQ(L"the server redirected from https to http", failed.message);
  EXPECT_EQ("0", Server().Stats(L"downgrade")["requests"]);

  // Within https, and from http up to https, redirects are followed.
  std::wstring secure = Server().SecureUrl(L"/data?size=2000&seed=105&tag=secure");
  std::wstring within = Server().SecureUrl(L"/redirect?to=" + QueryValue(secure));
  std::wstring up = Server().Url(L"/redirect?to=" + QueryValue(Server().SecureUrl(L"/data?size=2001&seed=106&tag=up")));
  Create(within, L"within.bin");
  Create(up, L"up.bin");
  ExpectDownloaded(within, L"within.bin", 2000, 105);
  ExpectDownloaded(up, L"up.bin", 2001, 106);
}

TEST_F(HostileServer, RedirectTargetsWithDotSegmentsQueriesAndFragmentsResolveAsBrowsersDo) {
  std::wstring port = std::to_wstring(Server().HttpPort());
  struct Case {
    std::wstring start;
    const wchar_t* name;
    unsigned size, seed;
  } cases[] = {
      // /a/b/redirect + "../../data" is /data: sent as written it would be a 404.
      {Server().Url(L"/a/b/redirect?to=" + QueryValue(L"../../data?size=3000&seed=107&tag=dots")), L"dots.bin", 3000, 107},
      {Server().Url(L"/a/redirect?to=" + QueryValue(L"./.././data?size=3001&seed=108&tag=dots#part")), L"fragment.bin",
       3001, 108},
      {Server().Url(L"/a/redirect?to=" + QueryValue(L"//localhost:" + port + L"/data?size=3002&seed=109&tag=dots")),
       L"network-path.bin", 3002, 109},
      // "?..." keeps the path and replaces the query: a second redirect, then the file.
      {Server().Url(L"/a/redirect?to=" + QueryValue(L"?to=" + QueryValue(L"/data?size=3003&seed=110&tag=dots"))),
       L"query.bin", 3003, 110},
  };
  for (const auto& c : cases) Create(c.start, c.name);
  for (const auto& c : cases) ExpectDownloaded(c.start, c.name, c.size, c.seed);
  for (const auto& c : cases) {
    EngineEvent finished = events->WaitForFinish(c.start, 0);
    EXPECT_EQ(std::wstring::npos, finished.finalUrl.find(L"..")) << Text(finished.finalUrl);
    EXPECT_EQ(std::wstring::npos, finished.finalUrl.find(L'#')) << Text(finished.finalUrl);
  }
}

TEST_F(HostileServer, TheReferrerStaysWithItsOriginAndIfRangeWithTheValidatorsOrigin) {
  const std::wstring page = L"http://pages.example/list";
  std::wstring other = L"http://localhost:" + std::to_wstring(Server().HttpPort());
  std::wstring same = Server().Url(L"/redirect?tag=ref-hop&to=" + QueryValue(L"/data?size=1000&seed=111&tag=ref-same"));
  std::wstring away =
      Server().Url(L"/redirect?tag=ref-away-hop&to=" + QueryValue(other + L"/data?size=1001&seed=112&tag=ref-away"));
  CreateWithReferrer(same, L"same.bin", page);
  CreateWithReferrer(away, L"away.bin", page);
  ExpectDownloaded(same, L"same.bin", 1000, 111);
  ExpectDownloaded(away, L"away.bin", 1001, 112);
  EXPECT_EQ("http://pages.example/list", Server().Stats(L"ref-hop")["referer"]);
  EXPECT_EQ("http://pages.example/list", Server().Stats(L"ref-same")["referer"]) << "the same origin after a redirect";
  EXPECT_EQ("http://pages.example/list", Server().Stats(L"ref-away-hop")["referer"]) << "the task's own address";
  EXPECT_EQ("", Server().Stats(L"ref-away")["referer"]) << "another origin gets no referrer";

  // A resume through a redirect to another origin: the validator came from
  // that origin and goes only there.
  std::wstring file = other + L"/data?size=1500000&seed=113&tag=ir&etag=%22v1%22&slow_at=200000&paced=1";
  std::wstring resumed = Server().Url(L"/redirect?tag=ir-hop&to=" + QueryValue(file));
  CreateWithReferrer(resumed, L"resumed.bin", page);
  WaitForBytes(resumed, 200000);
  StopAndSettle(resumed);
  CreateWithReferrer(resumed, L"", L"");
  ExpectDownloaded(resumed, L"resumed.bin", 1500000, 113);
  EXPECT_EQ("", Server().Stats(L"ir-hop")["if_range"]) << "no validator for the redirecting origin";
  EXPECT_EQ("\"v1\"", Server().Stats(L"ir")["if_range"]) << "the resume was validated where the file is";
  std::string ranges = Server().Stats(L"ir")["ranges"];
  EXPECT_EQ(0u, ranges.find("none,")) << "resumed with a range: " << ranges;
  EXPECT_EQ(std::string::npos, ranges.find(",none")) << ranges;
}

}  // namespace
