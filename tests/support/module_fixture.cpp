#include "tests/support/module_fixture.h"

const char kMimeType[] = "application/x-halvoplugin";

void ModuleTest::SetUp() {
  module.reset(new PluginModule());
  ASSERT_TRUE(module->Loaded()) << "halvo_plugin.dll not found beside the test program";
  plugin.size = sizeof plugin;
  ASSERT_EQ(NPERR_NO_ERROR, module->getEntryPoints(&plugin));
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  initialized = true;
}

void ModuleTest::TearDown() {
  for (auto& instance : instances)
    if (instance->pdata != nullptr) plugin.destroy(instance.get(), nullptr);
  if (initialized && module) module->shutdown();
  module.reset();
  ExpectBalancedLedgers();
}

NPP ModuleTest::NewInstance(const char* mimeType, NPError* result) {
  instances.emplace_back(new NPP_t{nullptr, nullptr});
  NPP instance = instances.back().get();
  NPError error = plugin.newp(const_cast<char*>(mimeType), instance, NP_EMBED, 0, nullptr, nullptr, nullptr);
  if (result != nullptr) *result = error;
  return instance;
}

NPError ModuleTest::DestroyInstance(NPP instance) { return plugin.destroy(instance, nullptr); }

void ModuleTest::ExpectBalancedLedgers() {
  // The page goes last: what remains alive after that, someone forgot to release.
  host.ClosePage();
  EXPECT_EQ(0u, host.LiveAllocations()) << "host memory handed out and never freed";
  EXPECT_EQ(0u, host.LiveObjects()) << "NPObjects still referenced";
  for (const auto& fault : host.Faults()) ADD_FAILURE() << "host fault: " << fault;
}
