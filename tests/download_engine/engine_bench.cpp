// Throughput of the engine on one file from a server given on the command
// line: engine_bench <url> <folder> <file name> <connections>. Registers the
// engine while it runs, starts it as the plug-in does, downloads, and prints
// "engine <connections> <bytes> <seconds>" on success. A benchmark, not a test.
#include <windows.h>
#include <ocidl.h>

#include <cstdio>
#include <string>

#include "engine/engine_interfaces.h"
#include "tests/download_engine/bench_engine.h"
#include "tests/support/engine_events.h"
#include "tests/support/engine_registration.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: engine_bench <url> <folder> <file name> <connections>\n");
    return 2;
  }
  std::wstring home = UsePrivateEngineHome(L"halvo-engine-bench-");
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
  config->SetMaxDownloadCount(5);
  config->SetAutoStart(0);
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  download->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  container->FindConnectionPoint(DIID_ITaskEvents, &point);
  auto* events = new EventCollector();
  DWORD cookie = 0;
  point->Advise(events, &cookie);
  download->StartupStep1();
  download->StartupStep2();

  BSTR url = SysAllocString(argv[1]), folder = SysAllocString(argv[2]), name = SysAllocString(argv[3]),
       referrer = SysAllocString(L"");
  BYTE state = 0;
  LARGE_INTEGER frequency, started, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  download->CreateDownload(url, folder, name, referrer, _wtoi(argv[4]), 0, &state);
  EngineEvent finish = events->WaitForFinish(argv[1], 30 * 60 * 1000);
  QueryPerformanceCounter(&ended);
  double seconds = static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
  int result = 0;
  if (finish.state == 6) {
    std::printf("engine %ls %lld %.3f\n", argv[4], static_cast<long long>(finish.size), seconds);
  } else {
    EngineEvent failed = events->WaitForState(argv[1], 4, 0);
    std::fprintf(stderr, "the download did not complete: %ls\n", failed.message.c_str());
    result = 1;
  }
  schedule->ShutdownStep();
  config->Release();
  point->Unadvise(cookie);
  point->Release();
  container->Release();
  download->Release();
  schedule->Release();
  events->Release();
  SysFreeString(url);
  SysFreeString(folder);
  SysFreeString(name);
  SysFreeString(referrer);
  for (const wchar_t* file : {L"\\settings.txt", L"\\work.journal", L"\\finished.journal", L"\\engine.lock"})
    DeleteFileW((home + file).c_str());
  RemoveDirectoryW(home.c_str());
  CoUninitialize();
  return result;
}
