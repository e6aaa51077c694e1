// What one task's operation costs the working engine as its work list grows:
// at 100, 1,000 and 10,000 tasks (imported as a page imports them), the time
// of importing one more task, moving the last task to the front, deleting a
// task, and one journal checkpoint (the work list written as the engine writes
// it on a change), with the process's memory (the sink here keeps a copy of
// every event, counted beside it) and the journal's size. Median of
// a few rounds each. A checkpoint is what the engine writes for a running
// task's progress: one record appended to the work log; the whole list is
// rewritten only once the log holds as many records as the list has tasks
// (at least kMinLogRecords), shown as "rewrite" and as its share per change.
// The journal's size is its file and its log.
// tasks_bench <download folder>. A benchmark, not a test:
// it prints figures and fails only when the engine does not do what it is asked.
#include <windows.h>
#include <ocidl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "download_engine/journal.h"
#include "engine/engine_interfaces.h"
#include "tests/download_engine/bench_engine.h"
#include "tests/support/engine_events.h"
#include "tests/support/engine_registration.h"

namespace {

const int kRounds = 7;

double Milliseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::wstring Url(size_t i) { return L"http://127.0.0.1:9/files/t" + std::to_wstring(i) + L".bin"; }

std::wstring Line(size_t i, const std::wstring& folder) {
  return Url(i) + L"|" + folder + L"|t" + std::to_wstring(i) + L".bin\n";
}

bool Ok(HRESULT result, const char* what) {
  if (SUCCEEDED(result)) return true;
  std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(result));
  return false;
}

HRESULT Import(IDownload* download, const std::wstring& text) {
  BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  HRESULT result = download->ImportTask(value);
  SysFreeString(value);
  return result;
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double PrivateMiB() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PagefileUsage / 1048576.0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tasks_bench <download folder>\n");
    return 2;
  }
  std::wstring folder = argv[1];
  std::wstring home = UsePrivateEngineHome(L"halvo-tasks-bench-");
  EngineRegistration registration;
  if (!registration.Registered()) {
    std::fprintf(stderr, "%s\n", registration.Problem().c_str());
    return 1;
  }
  BenchEngine engine;
  if (!StartBenchEngine(&engine)) return 1;
  ISchedule* schedule = engine.schedule;
  IConfig* config = engine.config;
  IDownload* download = engine.download;
  config->SetAutoStart(0);  // imported tasks stay stopped: only the list's own costs count
  // The plug-in always listens: events cost what they cost it.
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  download->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  container->FindConnectionPoint(DIID_ITaskEvents, &point);
  auto* events = new EventCollector();
  DWORD cookie = 0;
  point->Advise(events, &cookie);
  download->StartupStep1();
  download->StartupStep2();

  std::printf("%8s %10s %10s %10s %10s %14s %11s %11s %11s %8s %12s\n", "tasks", "import/ms", "create/ms",
              "move/ms", "delete/ms", "checkpoint/ms", "rewrite/ms", "share/ms", "commit/MiB", "events",
              "journal/KiB");
  std::fflush(stdout);
  size_t have = 0;
  size_t next = 1000000;  // urls of the tasks made and deleted in the rounds
  double baseMiB = PrivateMiB();
  for (size_t count : {100u, 1000u, 10000u}) {
    std::wstring text;
    for (size_t i = have; i < count; ++i) text += Line(i, folder);
    auto start = std::chrono::steady_clock::now();
    if (!Ok(Import(download, text), "ImportTask")) return 1;
    double importMs = Milliseconds(start);
    have = count;
    std::vector<double> create, move, remove, checkpoint;
    for (int round = 0; round < kRounds; ++round) {
      size_t id = next++;
      start = std::chrono::steady_clock::now();
      if (!Ok(Import(download, Line(id, folder)), "ImportTask of one")) return 1;
      create.push_back(Milliseconds(start));
      // The newest task is last: to the front, the far move.
      BSTR key = SysAllocString(Url(id).c_str());
      start = std::chrono::steady_clock::now();
      if (!Ok(download->Move(key, 0), "Move")) return 1;
      move.push_back(Milliseconds(start));
      start = std::chrono::steady_clock::now();
      if (!Ok(download->DeleteDownload(key, 0), "DeleteDownload")) return 1;
      remove.push_back(Milliseconds(start));
      SysFreeString(key);
    }
    // A checkpoint as the engine writes one, into a folder of its own.
    std::wstring spare = home + L"\\checkpoint";
    CreateDirectoryW(spare.c_str(), nullptr);
    std::vector<engine::Task> tasks(count);
    for (size_t i = 0; i < count; ++i) {
      tasks[i].id = i + 1;
      tasks[i].key = tasks[i].url = Url(i);
      tasks[i].folder = folder;
      tasks[i].fileName = L"t" + std::to_wstring(i) + L".bin";
      tasks[i].state = engine::TaskState::Stopped;
    }
    std::vector<double> rewrite;
    {
      engine::Journal journal(spare);
      journal.Load();
      for (int round = 0; round < kRounds; ++round) {
        start = std::chrono::steady_clock::now();
        journal.SaveWork(tasks, count + 1);
        rewrite.push_back(Milliseconds(start));
      }
      tasks[0].state = engine::TaskState::Downloading;
      for (int round = 0; round < kRounds; ++round) {
        tasks[0].segments = {{0, 1000000, 1000 * (round + 1)}};
        start = std::chrono::steady_clock::now();
        journal.LogTask(tasks[0], false, 0, count + 1);
        checkpoint.push_back(Milliseconds(start));
      }
    }
    double share = Median(rewrite) / static_cast<double>(std::max(engine::kMinLogRecords, count));
    std::printf("%8zu %10.1f %10.2f %10.2f %10.2f %14.2f %11.2f %11.3f %11.1f %8zu %12.1f\n", count, importMs,
                Median(create), Median(move), Median(remove), Median(checkpoint), Median(rewrite), share,
                PrivateMiB() - baseMiB, events->Events().size(),
                (FileSize(home + L"\\work.journal") + FileSize(home + L"\\work.log")) / 1024.0);
    std::fflush(stdout);
  }
  point->Unadvise(cookie);
  point->Release();
  container->Release();
  download->Release();
  config->Release();
  schedule->ShutdownStep();
  schedule->Release();
  CoUninitialize();
  return 0;
}
