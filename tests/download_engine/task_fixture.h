// What the newer engine tests share beyond the engine fixture: waiting for a
// task's bytes and for its transfer to settle, the task's state by query,
// CreateDownload with a referrer, and addresses as query values.
#pragma once

#include <string>

#include "tests/download_engine/engine_fixture.h"

class TaskTest : public EngineTest {
 protected:
  // Waits until the task has reported at least that many bytes; the bytes it reported.
  int64_t WaitForBytes(const std::wstring& key, int64_t bytes, DWORD timeoutMs = 15000);
  // Waits until the file holds at least that many bytes (written, not only
  // received: the engine buffers what it reads).
  void WaitForFileBytes(const std::wstring& path, int64_t bytes, DWORD timeoutMs = 15000);
  // The task's last event once its transfer has ended in that state (no
  // connection left open); an empty key when it did not within 10 s.
  EngineEvent Settled(const std::wstring& key, uint8_t state);
  // The task's n-th event of kind 5 (1 the first), after waiting for it; an
  // empty key on time-out. A key may finish, be created again and finish again.
  EngineEvent WaitForNthFinish(const std::wstring& key, size_t n, DWORD timeoutMs = 15000);
  // StopDownload, then waits for the transfer to end.
  EngineEvent StopAndSettle(const std::wstring& key);
  // QueryTaskInfo's state (0xFF for an unknown key), size, bytes and message.
  BYTE Query(const std::wstring& key, LONGLONG* size = nullptr, LONGLONG* done = nullptr,
             std::wstring* message = nullptr);
  BYTE CreateWithReferrer(const std::wstring& url, const std::wstring& fileName, const std::wstring& referrer);
  // The name the engine chose for the task, from its events.
  std::wstring ChosenName(const std::wstring& key);
};

// Percent-encodes a text for a query value (the loopback server's "to=").
std::wstring QueryValue(const std::wstring& text);
