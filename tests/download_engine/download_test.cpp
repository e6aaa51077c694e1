// Downloads that work: the server's exact bytes for several sizes, progress on
// the way, the finished list, ranges spread over connections, HTTPS, redirects,
// and the names a file may get.
#include <algorithm>

#include "tests/download_engine/engine_fixture.h"

namespace {

using Download = EngineTest;

TEST_F(Download, FilesOfSeveralSizesArriveWithTheServersBytes) {
  struct Case {
    uint64_t size;
    const wchar_t* name;
  } cases[] = {{0, L"empty.bin"}, {1, L"one.bin"}, {100000, L"small.bin"}, {3 * 1024 * 1024 + 7, L"large.bin"}};
  unsigned seed = 10;
  std::vector<std::wstring> keys;
  for (const auto& c : cases) {
    keys.push_back(Server().DataUrl(c.size, seed++, L"sizes"));
    EXPECT_LE(Create(keys.back(), c.name), 1) << "a new task is queued or already connecting";
  }
  seed = 10;
  for (size_t i = 0; i < keys.size(); ++i) ExpectDownloaded(keys[i], cases[i].name, cases[i].size, seed++);
  EXPECT_TRUE(WorkKeys().empty()) << "finished tasks stay on the work list";
}

TEST_F(Download, ProgressIsReportedOnTheWayAndTheFinishedTaskIsListed) {
  // About two seconds at the server's pace and three more for its last 60 KB:
  // several progress events even when the engine's ticks come late on a busy machine.
  std::wstring url = Server().DataUrl(1500000, 3, L"progress", L"rate=800000&slow_at=1440000");
  Create(url, L"paced.bin");
  ExpectDownloaded(url, L"paced.bin", 1500000, 3);

  std::vector<EngineEvent> seen = events->EventsFor(url);
  std::vector<uint8_t> states;
  int64_t lastDone = -1;
  int progress = 0;
  for (const auto& event : seen) {
    if (states.empty() || states.back() != event.state) states.push_back(event.state);
    EXPECT_GE(event.done, lastDone) << "progress went backwards";
    lastDone = event.done;
    if (event.kind == 3 && event.state == 2 && event.done > 0 && event.done < 1500000) {
      ++progress;
      EXPECT_EQ(1500000, event.size);
      EXPECT_GT(event.percent, 0);
      EXPECT_LT(event.percent, 100);
      EXPECT_EQ(Downloads(L"paced.bin") + L".part", event.partialPath);
    }
    EXPECT_EQ(Downloads(), event.folder);
    EXPECT_EQ(L"paced.bin", event.fileName);
    EXPECT_EQ(url, event.url);
  }
  EXPECT_GE(progress, 2) << "progress events while downloading";
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 5, 6}), states) << "queued, connecting, downloading, completing, completed";
  EngineEvent finish = events->WaitForFinish(url, 0);
  EXPECT_EQ(5, finish.kind);
  EXPECT_FALSE(finish.finished.empty());
  EXPECT_GT(finish.speed, 0u) << "average speed";

  std::vector<std::wstring> finished = FinishedTexts();
  ASSERT_EQ(1u, finished.size()) << "one entry, also after the sink archived the task";
  std::vector<std::wstring> fields = Fields(finished[0]);
  ASSERT_EQ(13u, fields.size());
  EXPECT_EQ(url, fields[0]);
  EXPECT_EQ(Downloads(), fields[2]);
  EXPECT_EQ(L"paced.bin", fields[3]);
  EXPECT_EQ(L"6", fields[4]);
  EXPECT_EQ(L"1500000", fields[5]);
  EXPECT_EQ(finish.finished, fields[8]);
  EXPECT_EQ(Downloads(L"paced.bin"), fields[9]);

  // The finished task still answers queries.
  Bstr key(url);
  BSTR text1 = nullptr, text2 = nullptr, text3 = nullptr, text4 = nullptr;
  BYTE state = 0xFF;
  LONGLONG size = 0, done = 0;
  ULONG speed = 0;
  ASSERT_EQ(S_OK, download->QueryTaskInfo(key, &text1, &text2, &text3, &state, &size, &done, &speed, &text4));
  EXPECT_EQ(6, state);
  EXPECT_EQ(1500000, size);
  EXPECT_EQ(L"paced.bin", TakeBstr(text3));
  TakeBstr(text1), TakeBstr(text2), TakeBstr(text4);
  long resourceSize = 0;
  EXPECT_EQ(S_OK, download->GetResourceSize(key, &resourceSize));
  EXPECT_EQ(1500000, resourceSize);
}

TEST_F(Download, SeveralConnectionsShareTheFileByRanges) {
  std::wstring url = Server().DataUrl(6 * 1024 * 1024 + 123, 4, L"parts", L"rate=6000000");
  Create(url, L"parts.bin", 4);
  ExpectDownloaded(url, L"parts.bin", 6 * 1024 * 1024 + 123, 4);
  auto stats = Server().Stats(L"parts");
  EXPECT_GE(std::stoi(stats["max_active"]), 2) << "ranges: " << stats["ranges"];
  EXPECT_NE(std::string::npos, stats["ranges"].find("0-")) << "the first request asks for the whole file as a range";
  EXPECT_GE(std::count(stats["ranges"].begin(), stats["ranges"].end(), ','), 3) << stats["ranges"];
}

TEST_F(Download, HttpsWorksWithACertificateTheMachineTrusts) {
  std::wstring url = Server().SecureUrl(L"/data?size=300000&seed=5&tag=tls");
  Create(url, L"secure.bin", 2);
  ExpectDownloaded(url, L"secure.bin", 300000, 5);
}

TEST_F(Download, RedirectsAreFollowedAndTheFinalAddressReported) {
  std::wstring target = Server().DataUrl(70000, 6, L"redirected");
  std::wstring encoded;
  for (wchar_t c : target) {
    if (c == L':' || c == L'/' || c == L'?' || c == L'&' || c == L'=') {
      wchar_t hex[4];
      swprintf(hex, 4, L"%%%02X", c);
      encoded += hex;
    } else {
      encoded += c;
    }
  }
  std::wstring url = Server().Url(L"/redirect?code=301&to=" + encoded);
  Create(url, L"moved.bin");
  ExpectDownloaded(url, L"moved.bin", 70000, 6);
  EXPECT_EQ(target, events->WaitForFinish(url, 0).finalUrl);
}

TEST_F(Download, TheFileNameComesFromThePageThenTheServerThenTheUrl) {
  std::wstring fromServer = Server().DataUrl(1000, 7, L"names", L"name=report%202024.pdf");
  std::wstring fromServerUtf8 = Server().DataUrl(1001, 8, L"names", L"name_star=r%C3%A9sum%C3%A9.txt");
  std::wstring fromUrl = Server().Url(L"/data/some%20file.dat?size=1002&seed=9");
  std::wstring pageWins = Server().DataUrl(1003, 10, L"names", L"name=server.pdf");
  Create(fromServer);
  Create(fromServerUtf8);
  Create(fromUrl);
  Create(pageWins, L"page.pdf");
  ExpectDownloaded(fromServer, L"report 2024.pdf", 1000, 7);
  ExpectDownloaded(fromServerUtf8, L"r\u00E9sum\u00E9.txt", 1001, 8);
  ExpectDownloaded(fromUrl, L"some file.dat", 1002, 9);
  ExpectDownloaded(pageWins, L"page.pdf", 1003, 10);
}

TEST_F(Download, TwoTasksForOneTargetNeverShareAFileAndNoFileIsOverwritten) {
  WriteBytes(Downloads(L"keep.bin"), "the user's own file");
  std::wstring first = Server().DataUrl(200000, 11, L"same");
  std::wstring second = Server().DataUrl(200001, 12, L"same");
  std::wstring third = Server().DataUrl(200002, 13, L"same");
  Create(first, L"same.bin");
  Create(second, L"same.bin");
  Create(third, L"keep.bin");
  ExpectDownloaded(first, L"same.bin", 200000, 11);
  ExpectDownloaded(second, L"same (1).bin", 200001, 12);
  ExpectDownloaded(third, L"keep (1).bin", 200002, 13);
  EXPECT_EQ("the user's own file", ReadBytes(Downloads(L"keep.bin")));
}

TEST_F(Download, CreatingARunningTaskAgainChangesNothing) {
  std::wstring url = Server().DataUrl(600000, 14, L"twice", L"rate=600000");
  Create(url, L"twice.bin");
  EXPECT_NE(0xEE, Create(url, L"other.bin")) << "answers the task's state";
  ExpectDownloaded(url, L"twice.bin", 600000, 14);
  EXPECT_FALSE(Exists(Downloads(L"other.bin")));
  EXPECT_EQ(1, Server().Stats(L"twice")["requests"] == "1" ? 1 : 0) << Server().Stats(L"twice")["requests"];
}

TEST_F(Download, UserAgentReferrerAndMatchingCookiesGoWithTheRequests) {
  Bstr cookie(L"session=abc123; Domain=127.0.0.1; Path=/data");
  ASSERT_EQ(S_OK, download->SetCookie(cookie, 0));
  Bstr other(L"elsewhere=1; Domain=example.com");
  ASSERT_EQ(S_OK, download->SetCookie(other, 0));
  Bstr secureOnly(L"secret=2; Domain=127.0.0.1; Secure");
  ASSERT_EQ(S_OK, download->SetCookie(secureOnly, 0));
  std::wstring url = Server().DataUrl(5000, 15, L"headers");
  Bstr u(url), f(Downloads()), n(L"headers.bin"), r(L"http://pages.example/list.html");
  BYTE state = 0;
  ASSERT_EQ(S_OK, download->CreateDownload(u, f, n, r, 1, 0, &state));
  ExpectDownloaded(url, L"headers.bin", 5000, 15);
  auto stats = Server().Stats(L"headers");
  EXPECT_EQ("Chrome/21.0.1180.79 Safari/537.1 Corvane/1.0.2", stats["user_agent"]);
  EXPECT_EQ("http://pages.example/list.html", stats["referer"]);
  EXPECT_EQ("session=abc123", stats["cookie"]);

  ASSERT_EQ(S_OK, download->ClearCookie());
  std::wstring again = Server().DataUrl(5001, 16, L"cleared");
  Create(again, L"cleared.bin");
  ExpectDownloaded(again, L"cleared.bin", 5001, 16);
  EXPECT_EQ("", Server().Stats(L"cleared")["cookie"]);
}

TEST_F(Download, ABodyWithoutALengthEndsWhereTheServerStops) {
  std::wstring url = Server().DataUrl(250000, 17, L"chunked", L"chunked=1");
  Create(url, L"chunked.bin", 4);
  ExpectDownloaded(url, L"chunked.bin", 250000, 17);
}

}  // namespace
