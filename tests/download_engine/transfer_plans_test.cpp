// What a transfer starts with, from the task and the settings: whatever the
// settings file or the page asked, the connections, the buffer and the
// time-outs stay within the bounds a transfer can work with.
#include <gtest/gtest.h>
#include <windows.h>

#include "download_engine/transfer_plans.h"

namespace {

using namespace engine;

TEST(TransferPlans, ConnectionsBufferAndTimeOutsStayWithinTheirBounds) {
  const struct {
    const char* what;
    int32_t taskConnections;
    bool singleConnection;
    int32_t cacheKiB;
    int32_t connectMs, receiveMs;
    int connections;
    uint32_t cacheBytes;
    int connectTimeout, receiveTimeout;
  } cases[] = {
      {"as asked", 4, false, 1024, 5000, 6000, 4, 1024u * 1024u, 5000, 6000},
      {"one connection for all", 4, true, 1024, 5000, 6000, 1, 1024u * 1024u, 5000, 6000},
      {"more connections than a task may have", 40, false, 1024, 5000, 6000, kMaxConnections, 1024u * 1024u, 5000,
       6000},
      {"no connection asked", 0, false, 1024, 5000, 6000, 1, 1024u * 1024u, 5000, 6000},
      {"a negative buffer", 2, false, -5, 5000, 6000, 2, 0u, 5000, 6000},
      {"a buffer beyond 256 MiB", 2, false, 1 << 30, 5000, 6000, 2, 256u << 20, 5000, 6000},
      {"time-outs too short to connect at all", 2, false, 64, 0, -1, 2, 64u * 1024u, 100, 100},
  };
  for (const auto& c : cases) {
    Task task;
    task.id = 9;
    task.url = L"http://h/f";
    task.folder = L"C:\\d";
    task.fileName = L"f.bin";
    task.connections = c.taskConnections;
    task.segments = {{0, 100, 40}};
    task.size = 100;
    Settings settings;
    settings.singleConnection = c.singleConnection;
    settings.diskCacheKiB = c.cacheKiB;
    settings.connectTimeoutMs = c.connectMs;
    settings.receiveTimeoutMs = c.receiveMs;
    TransferPlan plan = PlanFor(task, settings);
    EXPECT_EQ(c.connections, plan.connections) << c.what;
    EXPECT_EQ(c.cacheBytes, plan.cacheBytes) << c.what;
    EXPECT_EQ(c.connectTimeout, plan.http.connectTimeoutMs) << c.what;
    EXPECT_EQ(c.receiveTimeout, plan.http.receiveTimeoutMs) << c.what;
    EXPECT_EQ(L"C:\\d\\f.bin.part", plan.partialPath) << c.what;
    EXPECT_EQ(40, plan.segments[0].done) << "the progress goes on: " << c.what;
    EXPECT_EQ(9u, plan.taskId) << c.what;
  }
}

}  // namespace
