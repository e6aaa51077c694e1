#include "tests/download_engine/bench_engine.h"

#include <windows.h>

#include <cstdio>
#include <string>

std::wstring UsePrivateEngineHome(const wchar_t* prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring home = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(home.c_str(), nullptr);
  SetEnvironmentVariableW(L"HALVO_ENGINE_HOME", home.c_str());
  return home;
}

bool StartBenchEngine(BenchEngine* engine) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CLSID clsid;
  CLSIDFromProgID(kScheduleProgId, &clsid);
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISchedule, reinterpret_cast<void**>(&engine->schedule));
  CLSIDFromProgID(kConfigProgId, &clsid);
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConfig, reinterpret_cast<void**>(&engine->config));
  CLSIDFromProgID(kDownloadProgId, &clsid);
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownload, reinterpret_cast<void**>(&engine->download));
  if (!engine->schedule || !engine->config || !engine->download) {
    std::fprintf(stderr, "the engine's objects could not be created\n");
    return false;
  }
  engine->schedule->StartupStep1();
  engine->schedule->StartupStep2();
  return true;
}
