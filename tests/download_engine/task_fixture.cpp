#include "tests/download_engine/task_fixture.h"

int64_t TaskTest::WaitForBytes(const std::wstring& key, int64_t bytes, DWORD timeoutMs) {
  int64_t done = 0;
  EXPECT_TRUE(events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        for (const auto& event : seen)
          if (event.key == key && event.done >= bytes) done = event.done;
        return done >= bytes;
      },
      timeoutMs))
      << "the task never got " << bytes << " bytes";
  return done;
}

void TaskTest::WaitForFileBytes(const std::wstring& path, int64_t bytes, DWORD timeoutMs) {
  auto length = [&path]() -> int64_t {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  };
  EXPECT_TRUE(events->WaitFor([&](const std::vector<EngineEvent>&) { return length() >= bytes; }, timeoutMs))
      << "the file never held " << bytes << " bytes (it has " << length() << ")";
}

EngineEvent TaskTest::Settled(const std::wstring& key, uint8_t state) {
  EngineEvent last;
  // The transfer ends at its next read after a stop: a bound for a hang, not a speed.
  const DWORD bound = 30000;
  bool settled = events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        for (auto event = seen.rbegin(); event != seen.rend(); ++event) {
          if (event->key != key) continue;
          if (event->state == state && event->connections == 0) {
            last = *event;
            return true;
          }
          return false;
        }
        return false;
      },
      bound);
  if (!settled)
    ADD_FAILURE() << "the task did not settle in state " << int(state) << " with no connection within " << bound
                  << " ms; " << History(key);
  return last;
}

EngineEvent TaskTest::WaitForNthFinish(const std::wstring& key, size_t n, DWORD timeoutMs) {
  EngineEvent found;
  events->WaitFor(
      [&](const std::vector<EngineEvent>& seen) {
        size_t count = 0;
        for (const auto& event : seen) {
          if (event.key == key && event.kind == 5 && ++count == n) {
            found = event;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

EngineEvent TaskTest::StopAndSettle(const std::wstring& key) {
  Bstr k(key);
  EXPECT_EQ(S_OK, download->StopDownload(k));
  EngineEvent stopped = Settled(key, 3);
  EXPECT_EQ(key, stopped.key) << "the transfer did not end after the stop";
  return stopped;
}

BYTE TaskTest::Query(const std::wstring& key, LONGLONG* size, LONGLONG* done, std::wstring* message) {
  Bstr k(key);
  BSTR url = nullptr, folder = nullptr, name = nullptr, text = nullptr;
  BYTE state = 0xFF;
  LONGLONG sizeOut = 0, doneOut = 0;
  ULONG speed = 0;
  EXPECT_EQ(S_OK, download->QueryTaskInfo(k, &url, &folder, &name, &state, &sizeOut, &doneOut, &speed, &text));
  TakeBstr(url), TakeBstr(folder), TakeBstr(name);
  std::wstring said = TakeBstr(text);
  if (size) *size = sizeOut;
  if (done) *done = doneOut;
  if (message) *message = said;
  return state;
}

BYTE TaskTest::CreateWithReferrer(const std::wstring& url, const std::wstring& fileName, const std::wstring& referrer) {
  Bstr u(url), f(Downloads()), n(fileName), r(referrer);
  BYTE state = 0xEE;
  EXPECT_EQ(S_OK, download->CreateDownload(u, f, n, r, 1, 0, &state));
  return state;
}

std::wstring TaskTest::ChosenName(const std::wstring& key) {
  std::wstring name;
  for (const auto& event : events->EventsFor(key))
    if (!event.path.empty()) name = event.fileName;
  return name;
}

std::wstring QueryValue(const std::wstring& text) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring encoded;
  for (wchar_t c : text) {
    bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
                 c == L'.' || c == L'_' || c == L'~';
    if (plain) {
      encoded += c;
    } else {
      encoded += L'%';
      encoded += kDigits[(c >> 4) & 15];
      encoded += kDigits[c & 15];
    }
  }
  return encoded;
}
