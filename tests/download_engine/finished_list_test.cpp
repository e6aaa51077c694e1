// The finished list on its own: which entry a key or a path names, what a
// delete takes out, and the tombstones that keep a late archive from bringing
// a deleted entry back.
#include <gtest/gtest.h>
#include <windows.h>

#include "download_engine/finished_list.h"
#include "download_engine/text.h"

namespace {

using namespace engine;

constexpr int64_t kDay = 864000000000LL;  // 100 ns ticks
const int64_t kMay1 = 133590240000000000LL;

FinishedEntry Entry(uint64_t id, const std::wstring& key, const std::wstring& path, int64_t finished) {
  FinishedEntry entry;
  entry.id = id;
  entry.key = key;
  entry.path = path;
  entry.finished = finished;
  return entry;
}

FinishedList ThreeOfOneAddress() {
  FinishedList list;
  list.Reset({Entry(1, L"http://a/f", L"C:\\d\\f.bin", kMay1), Entry(2, L"http://b/g", L"C:\\d\\g.bin", kMay1),
              Entry(3, L"http://a/f", L"C:\\d\\f (1).bin", kMay1 + kDay),
              Entry(4, L"http://a/f", L"C:\\D\\F.BIN", kMay1 + 2 * kDay)});
  return list;
}

TEST(FinishedList, TheNewestEntryOfAKeyOrOfAKeyAndFileIsFound) {
  FinishedList list = ThreeOfOneAddress();
  const struct {
    std::wstring key, path;
    uint64_t id;  // 0: none
  } cases[] = {
      {L"http://a/f", L"", 4},                      // the key alone
      {L"http://b/g", L"", 2},
      {L"http://c/", L"", 0},
      {L"http://a/f", L"c:\\d\\f.bin", 4},         // file names compare as Windows compares them
      {L"http://a/f", L"C:\\d\\f (1).bin", 3},
      {L"http://b/g", L"C:\\d\\f.bin", 0},         // another address's file
      {L"http://a/f", L"C:\\d\\other.bin", 0},
  };
  for (const auto& c : cases) {
    const FinishedEntry* found = c.path.empty() ? list.NewestOf(c.key) : list.NewestNamed(c.key, c.path);
    EXPECT_EQ(c.id, found ? found->id : 0) << std::string(c.key.begin(), c.key.end());
  }
}

TEST(FinishedList, RemovingTakesOutEveryEntryOfThatFileInOrderAndNothingElse) {
  FinishedList list = ThreeOfOneAddress();
  std::vector<FinishedEntry> removed = list.RemoveNamed(L"http://a/f", L"c:\\d\\f.bin");
  ASSERT_EQ(2u, removed.size());
  EXPECT_EQ(1u, removed[0].id);
  EXPECT_EQ(4u, removed[1].id);
  ASSERT_EQ(2u, list.Entries().size());
  EXPECT_EQ(2u, list.Entries()[0].id);
  EXPECT_EQ(3u, list.Entries()[1].id);
  EXPECT_TRUE(list.RemoveNamed(L"http://a/f", L"c:\\d\\f.bin").empty());
}

TEST(FinishedList, ADeletedEntryStaysKnownUntilTheNextSession) {
  FinishedList list = ThreeOfOneAddress();
  const std::wstring first = FormatUtcTime(kMay1), third = FormatUtcTime(kMay1 + 2 * kDay);
  list.RemoveNamed(L"http://a/f", L"C:\\d\\f.bin");
  const struct {
    std::wstring key, path, finished;
    bool known;
  } cases[] = {
      {L"http://a/f", L"C:\\d\\f.bin", first, true},   // tombstones of both removed entries
      {L"http://a/f", L"c:\\D\\F.bin", third, true},
      {L"http://a/f", L"C:\\d\\f.bin", FormatUtcTime(kMay1 + kDay), false},  // another download of that file
      {L"http://b/g", L"C:\\d\\g.bin", first, true},   // a live entry
      {L"http://b/g", L"C:\\d\\g.bin", third, false},
      {L"http://a/f", L"C:\\d\\f (1).bin", FormatUtcTime(kMay1 + kDay), true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.known, list.Knows(c.key, c.path, c.finished)) << std::string(c.path.begin(), c.path.end());
  list.Reset({});  // a new session
  EXPECT_FALSE(list.Knows(L"http://a/f", L"C:\\d\\f.bin", first));
}

// Which archived records the list may take: the list decides which files a
// later delete may remove, so only a plain name inside a proper folder.
TEST(FinishedList, AnArchivedRecordIsTakenOnlyWithItsFileNameInsideAProperFolder) {
  const struct {
    std::wstring path, fileName;
    bool taken;
    std::wstring folder;
  } cases[] = {
      {L"C:\\d\\f.bin", L"f.bin", true, L"C:\\d"},
      {L"C:\\f.bin", L"f.bin", true, L"C:\\"},
      {L"", L"f.bin", false, L""},
      {L"C:\\d\\f.bin", L"", false, L""},
      {L"C:\\d\\g.bin", L"f.bin", false, L""},
      {L"C:\\d\\..\\e\\f.bin", L"f.bin", false, L""},
      {L"d\\f.bin", L"f.bin", false, L""},
      {L"C:\\d\\sub\\f.bin", L"sub\\f.bin", false, L""},
  };
  for (const auto& c : cases) {
    ArchiveRecord record;
    record.key = L"http://a/f";
    record.path = c.path;
    record.fileName = c.fileName;
    record.size = 10;
    record.created = L"not a time";
    record.complete = 1;
    FinishedEntry entry;
    std::wstring reason;
    EXPECT_EQ(c.taken, EntryFromArchive(record, &entry, &reason)) << std::string(c.path.begin(), c.path.end());
    if (!c.taken) {
      EXPECT_FALSE(reason.empty());
      continue;
    }
    EXPECT_EQ(c.folder, entry.folder);
    EXPECT_EQ(c.path, entry.path);
    EXPECT_EQ(record.key, entry.url) << "the key stands for a missing address";
    EXPECT_EQ(0, entry.created) << "an unreadable time is none";
    EXPECT_GT(entry.finished, 0) << "an unreadable finishing time is now";
  }
}

}  // namespace
