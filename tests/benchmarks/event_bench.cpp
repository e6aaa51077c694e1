// Prints what an engine event costs the plug-in (formatting and escaping a
// typical 24-field event) and what a long-open page costs: the store and one
// working-task walk after a million progress events over 100 tasks.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "plugin/host.h"
#include "tests/support/test_host.h"
#include "transfer/halvo_plugin.h"
#include "transfer/message_format.h"
#include "transfer/page_channel.h"
#include "transfer/task_event.h"

namespace {

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

std::size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

TaskEvent TypicalEvent(int task, int step) {
  TaskEvent event;
  event.kind = 3;
  event.folder = L"C:\\Users\\page\\Downloads";
  event.key = L"task-" + std::to_wstring(task);
  event.url = L"http://downloads.example.test/files/archive-" + std::to_wstring(task) + L".zip";
  event.fileName = L"archive-" + std::to_wstring(task) + L".zip";
  event.message = L"\"quoted\" note";
  event.queuePosition = 4;
  event.percent = 12.25 * step;
  event.state = 1;
  event.speed = 250000;
  event.size = 1048576LL * step;
  event.done = 734003200;
  return event;
}

}  // namespace

int main() {
  TestHost host;
  SetHostFunctions(host.Table());

  const int events = 200000;
  double start = Seconds();
  std::size_t bytes = 0;
  for (int i = 0; i < events; ++i) {
    std::wstring text = FormatEventMessage(TypicalEvent(i % 100, i));
    ReplaceAll(text, L"\"", L"\\\"");
    bytes += EscapeForScript(text).size();
  }
  double perEvent = (Seconds() - start) / events;
  std::printf("format + escape of a typical event: %.2f us per event (%zu URL bytes per event)\n", perEvent * 1e6,
              bytes / events);

  NPP_t npp{};
  HalvoPlugin plugin;
  plugin.Init(&npp, NP_EMBED, 0, nullptr, nullptr, nullptr);
  std::size_t before = WorkingSet();
  start = Seconds();
  for (int i = 0; i < 1000000; ++i) plugin.StoreTask(RecordOf(TypicalEvent(i % 100, i)));
  double storing = Seconds() - start;
  std::size_t after = WorkingSet();
  int delivered = 0;
  NPObject* page = host.CreatePageFunction([&](const NPVariant*, uint32_t, NPVariant*) {
    ++delivered;
    return true;
  });
  start = Seconds();
  plugin.DeliverTaskRecords(page);
  double walk = Seconds() - start;
  std::printf("1000000 progress events over 100 tasks: %.2f s to store (%.2f us each), store holds %zu records "
              "and %zu keys, working set grew %.1f KiB\n",
              storing, storing * 1e6 / 1000000, plugin.taskParams.size(), plugin.taskKeys.size(), (after - before) / 1024.0);
  std::printf("working-task walk afterwards: %d page calls in %.3f ms\n", delivered, walk * 1e3);
  host.ReleaseObject(page);
  plugin.UnInit(nullptr);
  SetHostFunctions(nullptr);
  return plugin.taskKeys.size() == 100 && delivered == 100 ? 0 : 1;
}
