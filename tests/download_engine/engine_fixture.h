// Tests of the working engine, driven through its COM objects exactly as the
// plug-in drives them: created by ProgID, started and configured with the
// plug-in's calls, events received by a sink on the connection point.
//
// Each test gets a data folder of its own (HALVO_ENGINE_HOME) with a settings
// file written before the engine starts, and a download folder inside it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <string>

#include "engine/engine_interfaces.h"
#include "tests/support/engine_events.h"
#include "tests/support/loopback_server.h"

// The process-wide part: engine registered, test authority trusted, server up.
LoopbackServer& Server();

// A BSTR for one call.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

std::wstring TakeBstr(BSTR text);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// The strings of a list out value (VARIANT of a SAFEARRAY of BSTR VARIANTs); clears it.
std::vector<std::wstring> TakeList(VARIANT* list, std::string* fault);
// Runs one disabled test of this program in a child process (it inherits the
// environment) and answers its exit code; a child that cannot be started or
// does not end within 30 s fails the calling test and answers 0xFFFFFFFF.
DWORD RunChildTest(const std::wstring& disabledTest);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Settings-file lines written before the engine starts (tuning for tests).
  virtual std::string Tuning() const;

  // The plug-in's start-up and shut-down sequences.
  void StartEngine();
  void StopEngine();

  // CreateDownload into the test's download folder; the state byte it answers.
  BYTE Create(const std::wstring& url, const std::wstring& fileName = L"", long connections = 1, long flags = 0);
  BYTE CreateIn(const std::wstring& folder, const std::wstring& url, const std::wstring& fileName,
                long connections = 1, long flags = 0);

  // Every event of the task with its time, for a failure's message.
  std::string History(const std::wstring& key) const;
  // Waits for the task to finish (kind 5) and checks the file has the server's bytes.
  // The bound catches a task that never ends; in the emulated 32-bit PC a few
  // megabytes take 20 s (the server makes its bytes first), so it is a minute.
  void ExpectDownloaded(const std::wstring& key, const std::wstring& fileName, uint64_t size, unsigned seed,
                        DWORD timeoutMs = 60000);
  // The failed event of the task, after waiting for it.
  EngineEvent ExpectFailed(const std::wstring& key, DWORD timeoutMs = 15000);

  std::wstring Downloads(const std::wstring& name = L"") const { return downloads_ + (name.empty() ? L"" : L"\\" + name); }
  const std::wstring& Home() const { return home_; }

  long DownloadingCount();
  std::vector<std::wstring> WorkKeys();
  std::vector<std::wstring> FinishedTexts();

  // What StartEngine gives SetAutoStart; the plug-in gives 0.
  long autoStart = 0;

  ISchedule* schedule = nullptr;
  IConfig* config = nullptr;
  IDownload* download = nullptr;
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  EventCollector* events = nullptr;
  DWORD cookie = 0;

 private:
  std::wstring home_;
  std::wstring downloads_;
  bool comInitialized_ = false;
};

// Splits a "|"-separated text.
std::vector<std::wstring> Fields(const std::wstring& text);
