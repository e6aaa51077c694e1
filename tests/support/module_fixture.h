// A test that plays the browser: loads the module fresh, initialises it with the
// recording host, and checks at the end that every ledger balances.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/support/plugin_module.h"
#include "tests/support/test_host.h"

extern const char kMimeType[];

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // NPP_New for one element; the NPP stays valid until the test ends.
  NPP NewInstance(const char* mimeType = kMimeType, NPError* result = nullptr);
  NPError DestroyInstance(NPP instance);

  // The ledgers; each test calls this implicitly at its end (the page is closed first).
  void ExpectBalancedLedgers();

  TestHost host;
  std::unique_ptr<PluginModule> module;
  NPPluginFuncs plugin{};
  bool initialized = false;
  std::vector<std::unique_ptr<NPP_t>> instances;
};
