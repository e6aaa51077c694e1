// The engine's rules that need no server: which names and folders are safe,
// how URLs and Content-Disposition headers are read, and that the journal's
// files detect damage.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "download_engine/content_disposition.h"
#include "download_engine/file_names.h"
#include "download_engine/journal.h"
#include "download_engine/redirect_rules.h"
#include "download_engine/task_texts.h"
#include "download_engine/url_check.h"

namespace {

using namespace engine;

TEST(FileNameRules, PlainNamesPassAndEverythingThatLeavesOrConfusesTheFolderFails) {
  std::wstring reason;
  for (const wchar_t* good : {L"a.bin", L"report 2024.pdf", L".profile", L"r\u00E9sum\u00E9.txt", L"con-tract.doc",
                              L"COM0", L"LPT10.txt", L"nul_file"})
    EXPECT_TRUE(CheckFileName(good, &reason)) << std::string(reason.begin(), reason.end());
  for (const wchar_t* bad : {L"", L".", L"..", L"a\\b", L"a/b", L"C:x", L"a*", L"a?", L"a\"b", L"a<b", L"a>b",
                             L"a|b", L"trailing.", L"trailing ", L"CON", L"con.txt", L"Nul .log", L"COM1",
                             L"lpt9.doc", L"COM\u00B9", L"CONIN$", L"tab\tname", L"bell\a"})
    EXPECT_FALSE(CheckFileName(bad, &reason)) << std::string(bad, bad + wcslen(bad));
  EXPECT_FALSE(CheckFileName(std::wstring(251, L'x'), &reason));
}

TEST(FileNameRules, FoldersMustBeAbsoluteExistingAndFreeOfDotComponents) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring base(temp);
  base.pop_back();
  std::wstring folder, reason;
  ASSERT_TRUE(CheckFolder(base + L"\\", &folder, &reason)) << std::string(reason.begin(), reason.end());
  EXPECT_EQ(base, folder) << "the trailing separator goes";
  std::wstring slashed = base;
  for (auto& c : slashed)
    if (c == L'\\') c = L'/';
  ASSERT_TRUE(CheckFolder(slashed, &folder, &reason));
  EXPECT_EQ(base, folder) << "forward slashes become backslashes";
  ASSERT_TRUE(CheckFolder(L"C:\\", &folder, &reason));
  EXPECT_EQ(L"C:\\", folder);
  for (const std::wstring& bad : {std::wstring(L""), std::wstring(L"relative"), std::wstring(L"\\rooted"),
                                  std::wstring(L"C:relative"), base + L"\\..", base + L"\\.\\x", base + L"\\CON",
                                  std::wstring(L"\\\\?\\C:\\"), std::wstring(L"\\\\.\\PhysicalDrive0"),
                                  std::wstring(L"\\\\server"), base + L"\\no-such-folder-here"})
    EXPECT_FALSE(CheckFolder(bad, &folder, &reason)) << std::string(bad.begin(), bad.end());
}

TEST(FileNameRules, UniqueNamesCountUpBeforeTheExtension) {
  auto taken = [](std::initializer_list<const wchar_t*> names) {
    return [names](const std::wstring& candidate) {
      for (const wchar_t* name : names)
        if (candidate == name) return true;
      return false;
    };
  };
  EXPECT_EQ(L"a.bin", UniqueName(L"a.bin", taken({})));
  EXPECT_EQ(L"a (2).bin", UniqueName(L"a.bin", taken({L"a.bin", L"a (1).bin"})));
  EXPECT_EQ(L"archive.tar (1).gz", UniqueName(L"archive.tar.gz", taken({L"archive.tar.gz"})));
  EXPECT_EQ(L".profile (1)", UniqueName(L".profile", taken({L".profile"})));
  EXPECT_EQ(L"some file.dat", NameFromUrl(L"http://h/dir/some%20file.dat?x=1#frag"));
  EXPECT_EQ(L"r\u00E9sum\u00E9", NameFromUrl(L"http://h/r%C3%A9sum%C3%A9"));
  EXPECT_EQ(L"", NameFromUrl(L"http://h/dir/"));
  EXPECT_EQ(L"a/../b", NameFromUrl(L"http://h/a%2F..%2Fb")) << "decoded after splitting: the name check sees it";
}

TEST(UrlRules, SchemesHostsPortsAndResolvingRedirects) {
  UrlParts parts;
  std::wstring reason;
  ASSERT_TRUE(CheckUrl(L"HTTPS://Example.com:8443/a/b?c=d#frag", &parts, &reason));
  EXPECT_TRUE(parts.secure);
  EXPECT_EQ(8443, parts.port);
  EXPECT_EQ(L"/a/b?c=d", parts.pathAndQuery) << "the fragment is not sent";
  ASSERT_TRUE(CheckUrl(L"http://h", &parts, &reason));
  EXPECT_EQ(L"/", parts.pathAndQuery);
  for (const wchar_t* bad : {L"ftp://h/x", L"h/x", L"http:h", L"http://", L"http://h:0/", L"http://h:65536/",
                             L"http://u@h/", L"http://h/a b", L"http://h/\x01"})
    EXPECT_FALSE(CheckUrl(bad, &parts, &reason)) << std::string(bad, bad + wcslen(bad));
  EXPECT_EQ(L"http://h/a%7Cb%0A", NormalizeUrl(L"http://h/a|b\n"));
  EXPECT_EQ(L"http://o/x", ResolveUrl(L"http://h/a/b", L"http://o/x"));
  EXPECT_EQ(L"https://o/x", ResolveUrl(L"https://h/a/b", L"//o/x"));
  EXPECT_EQ(L"http://h:81/x", ResolveUrl(L"http://h:81/a/b?q", L"/x"));
  EXPECT_EQ(L"http://h/a/x?y", ResolveUrl(L"http://h/a/b?q", L"x?y"));
  EXPECT_EQ(L"http://h/a/b?z", ResolveUrl(L"http://h/a/b?q", L"?z"));
  EXPECT_EQ(L"http://h/x", ResolveUrl(L"http://h?q", L"x"));
}

TEST(DispositionRules, TheExtendedNameWinsAndQuotingIsUndone) {
  EXPECT_EQ(L"a b.txt", FileNameFromDisposition(L"attachment; filename=\"a b.txt\""));
  EXPECT_EQ(L"plain.txt", FileNameFromDisposition(L"attachment;filename=plain.txt ; size=3"));
  EXPECT_EQ(L"\u00E9t\u00E9.txt",
            FileNameFromDisposition(L"attachment; filename=\"fallback.txt\"; filename*=UTF-8''%C3%A9t%C3%A9.txt"));
  EXPECT_EQ(L"\u00E9.txt", FileNameFromDisposition(L"attachment; filename*=iso-8859-1'en'%E9.txt"));
  EXPECT_EQ(L"fallback.txt", FileNameFromDisposition(L"attachment; filename*=KOI8-R''%C1; filename=fallback.txt"));
  EXPECT_EQ(L"say \"hi\".txt", FileNameFromDisposition(L"attachment; filename=\"say \\\"hi\\\".txt\""));
  EXPECT_EQ(L"..\\evil.txt", FileNameFromDisposition(L"attachment; filename=\"..\\evil.txt\""))
      << "a Windows path stays a path, so the name check refuses it";
  EXPECT_EQ(L"", FileNameFromDisposition(L"inline"));
}

TEST(JournalFiles, RoundTripEveryFieldAndRefuseDamage) {
  Task task;
  task.id = 7;
  task.key = task.url = L"http://h/x?a=1\tb";
  task.folder = L"C:\\dl";
  task.requestedName = task.fileName = L"line\nbreak \u00E9.bin";
  task.referrer = L"back\\slash";
  task.connections = 4;
  task.state = TaskState::Stopped;
  task.message = L"the server answered 503";
  task.size = 5000000000LL;
  task.segments = {{0, 2500000000LL, 100}, {2500000000LL, 5000000000LL, 0}};
  task.validator = L"\"etag\"";
  task.created = 133000000000000000LL;
  task.interrupted = true;
  std::string bytes = EncodeWork({task}, 9);
  std::vector<Task> work;
  uint64_t nextId = 0;
  ASSERT_TRUE(DecodeWork(bytes, &work, &nextId));
  ASSERT_EQ(1u, work.size());
  EXPECT_EQ(9u, nextId);
  EXPECT_EQ(task.key, work[0].key);
  EXPECT_EQ(task.fileName, work[0].fileName);
  EXPECT_EQ(task.referrer, work[0].referrer);
  EXPECT_EQ(task.size, work[0].size);
  ASSERT_EQ(2u, work[0].segments.size());
  EXPECT_EQ(2500000000LL, work[0].segments[1].begin);
  EXPECT_EQ(100, work[0].segments[0].done);
  EXPECT_TRUE(work[0].interrupted);

  for (size_t at : {size_t(0), bytes.size() / 3, bytes.size() - 30}) {
    std::string damaged = bytes;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(DecodeWork(damaged, &work, &nextId)) << "a flipped bit at " << at;
  }
  EXPECT_FALSE(DecodeWork(bytes.substr(0, bytes.size() - 5), &work, &nextId)) << "a torn end";
  EXPECT_FALSE(DecodeWork(bytes.substr(0, bytes.size() / 2), &work, &nextId)) << "half a file";
}

TEST(TaskTexts, BlocksImportsAndFinishedEntries) {
  const int64_t mib = kBlockSize;
  EXPECT_EQ(L"", BlockStatusText(-1, {}));
  EXPECT_EQ(L"210", BlockStatusText(3 * mib, {{0, 3 * mib, mib + 5}}));
  EXPECT_EQ(L"212", BlockStatusText(2 * mib + 1, {{0, mib, mib}, {mib, 2 * mib, 10}, {2 * mib, 2 * mib + 1, 1}}));
  std::vector<ImportLine> lines;
  std::wstring reason;
  ASSERT_TRUE(ParseImportText(L"http://h/a|C:\\d\r\n\r\nhttp://h/b|C:\\d|b.bin|http://r/|99\n", &lines, &reason));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(L"b.bin", lines[1].fileName);
  EXPECT_EQ(16, lines[1].connections) << "clamped";
  EXPECT_FALSE(ParseImportText(L"http://h/a|C:\\d\nonly-a-url\n", &lines, &reason));
  EXPECT_FALSE(ParseImportText(L"\r\n", &lines, &reason));
  FinishedEntry entry;
  entry.key = entry.url = L"http://h/x";
  entry.folder = L"C:\\d";
  entry.fileName = L"x";
  entry.path = L"C:\\d\\x";
  entry.contentType = L"text/plain|evil";
  entry.size = 3;
  std::wstring text = FinishedText(entry);
  EXPECT_EQ(12, std::count(text.begin(), text.end(), L'|')) << "a server's \"|\" cannot add a field";
}

}  // namespace
