// The module boundary driven through its exports, as a browser drives it.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/module_fixture.h"

namespace {

constexpr unsigned char kUntouched = 0xA5;

// A module loaded but not yet initialised, for the export-level cases.
class ModuleExports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.Loaded()); }
  void TearDown() override {
    for (const auto& fault : host.Faults()) ADD_FAILURE() << fault;
  }
  TestHost host;
  PluginModule module;
};

TEST_F(ModuleExports, EntryTableFillsThirteenEntriesAndLeavesTheRestAsTheBrowserSetIt) {
  NPPluginFuncs table;
  std::memset(&table, kUntouched, sizeof table);
  table.size = 0x1234;
  ASSERT_EQ(NPERR_NO_ERROR, module.getEntryPoints(&table));

  EXPECT_EQ(26, table.version);
  EXPECT_EQ(0x1234, table.size);
  void* entries[] = {reinterpret_cast<void*>(table.newp),        reinterpret_cast<void*>(table.destroy),
                     reinterpret_cast<void*>(table.setwindow),   reinterpret_cast<void*>(table.newstream),
                     reinterpret_cast<void*>(table.destroystream), reinterpret_cast<void*>(table.asfile),
                     reinterpret_cast<void*>(table.writeready),  reinterpret_cast<void*>(table.write),
                     reinterpret_cast<void*>(table.print),       reinterpret_cast<void*>(table.event),
                     reinterpret_cast<void*>(table.urlnotify),   reinterpret_cast<void*>(table.getvalue),
                     reinterpret_cast<void*>(table.setvalue)};
  for (std::size_t i = 0; i < 13; ++i) {
    void* filler;
    std::memset(&filler, kUntouched, sizeof filler);
    EXPECT_NE(filler, entries[i]) << "entry " << i << " not written";
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(entries[i], entries[j]) << "entries " << i << " and " << j;
  }
  // javaClass and every member after setvalue keep the browser's bytes.
  auto untouched = [](const void* start, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(start);
    for (std::size_t i = 0; i < length; ++i)
      if (bytes[i] != kUntouched) return false;
    return true;
  };
  EXPECT_TRUE(untouched(&table.javaClass, sizeof table.javaClass));
  const std::size_t tail = offsetof(NPPluginFuncs, gotfocus);
  EXPECT_TRUE(untouched(reinterpret_cast<const char*>(&table) + tail, sizeof table - tail));
}

TEST_F(ModuleExports, MimeDescriptionIsAvailableBeforeInitialisation) {
  EXPECT_STREQ("application/x-halvoplugin::Halvo Transfer Plugin", module.getMimeDescription());
}

TEST_F(ModuleExports, InitialiseRefusesANullTableAndANewerMajorVersion) {
  EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, module.initialize(nullptr));

  NPNetscapeFuncs newer = *host.Table();
  newer.version = 0x0100;
  EXPECT_EQ(NPERR_INCOMPATIBLE_VERSION_ERROR, module.initialize(&newer));
  newer.version = 0x1FFF;
  EXPECT_EQ(NPERR_INCOMPATIBLE_VERSION_ERROR, module.initialize(&newer));

  NPNetscapeFuncs older = *host.Table();
  older.version = 0x001B;
  older.size = 0;  // the size is not examined
  EXPECT_EQ(NPERR_NO_ERROR, module.initialize(&older));
  EXPECT_EQ(NPERR_NO_ERROR, module.shutdown());
}

TEST_F(ModuleExports, RefusedInitialisationStillFillsTheRegistry) {
  ASSERT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, module.initialize(nullptr));
  NPPluginFuncs table{};
  table.size = sizeof table;
  module.getEntryPoints(&table);
  NPP_t npp{};
  EXPECT_EQ(NPERR_NO_ERROR, table.newp(const_cast<char*>(kMimeType), &npp, NP_EMBED, 0, nullptr, nullptr, nullptr));
  EXPECT_NE(nullptr, npp.pdata);
  EXPECT_EQ(NPERR_NO_ERROR, table.destroy(&npp, nullptr));
  EXPECT_EQ(nullptr, npp.pdata);
}

TEST_F(ModuleExports, ShutdownAnswersZeroEvenAfterAFailedInitialisation) {
  EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, module.initialize(nullptr));
  EXPECT_EQ(NPERR_NO_ERROR, module.shutdown());
  EXPECT_EQ(NPERR_NO_ERROR, module.shutdown());
}

TEST_F(ModuleExports, ModuleLevelGetValueNamesTheModule) {
  NPPluginFuncs table{};
  module.getEntryPoints(&table);
  const char* text = nullptr;
  EXPECT_EQ(NPERR_NO_ERROR, table.getvalue(nullptr, NPPVpluginNameString, &text));
  EXPECT_STREQ("Halvo Transfer Plugin", text);
  text = nullptr;
  EXPECT_EQ(NPERR_NO_ERROR, table.getvalue(nullptr, NPPVpluginDescriptionString, &text));
  EXPECT_STREQ("Halvo Transfer Plugin", text);

  void* untouched = &table;
  for (NPPVariable variable : {NPPVpluginWindowBool, NPPVpluginNeedsXEmbed, NPPVpluginScriptableNPObject}) {
    EXPECT_EQ(NPERR_GENERIC_ERROR, table.getvalue(nullptr, variable, &untouched)) << variable;
    EXPECT_EQ(static_cast<void*>(&table), untouched);
  }
}

// ---- with an initialised module -----------------------------------------

using ModuleBoundary = ModuleTest;

TEST_F(ModuleBoundary, MimeLookupIsExactAndCaseSensitive) {
  const char* refused[] = {"APPLICATION/X-HALVOPLUGIN", "Application/x-halvoplugin", "application/x-halvoplugin ",
                           " application/x-halvoplugin", "application/x-halvoplugin;version=1",
                           "application/x-halvoplugi", "application/x-halvoplugins", "", "text/html"};
  for (const char* type : refused) {
    NPError result = NPERR_NO_ERROR;
    NPP instance = NewInstance(type, &result);
    EXPECT_EQ(NPERR_OUT_OF_MEMORY_ERROR, result) << '"' << type << '"';
    EXPECT_EQ(nullptr, instance->pdata) << '"' << type << '"';
  }
  NPError result = NPERR_GENERIC_ERROR;
  NPP instance = NewInstance(kMimeType, &result);
  EXPECT_EQ(NPERR_NO_ERROR, result);
  EXPECT_NE(nullptr, instance->pdata);
}

TEST_F(ModuleBoundary, RefusedTypeLeavesPdataAsTheBrowserSetIt) {
  NPP_t npp{reinterpret_cast<void*>(0x1234), nullptr};
  EXPECT_EQ(NPERR_OUT_OF_MEMORY_ERROR,
            plugin.newp(const_cast<char*>("text/plain"), &npp, NP_EMBED, 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(reinterpret_cast<void*>(0x1234), npp.pdata);
  EXPECT_EQ(NPERR_OUT_OF_MEMORY_ERROR, plugin.newp(nullptr, &npp, NP_EMBED, 0, nullptr, nullptr, nullptr));
}

TEST_F(ModuleBoundary, TwoElementsGetTwoObjectsAndDestroyClearsPdata) {
  NPP first = NewInstance();
  NPP second = NewInstance();
  ASSERT_NE(nullptr, first->pdata);
  ASSERT_NE(nullptr, second->pdata);
  EXPECT_NE(first->pdata, second->pdata);
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(first));
  EXPECT_EQ(nullptr, first->pdata);
  EXPECT_NE(nullptr, second->pdata);
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(second));
  EXPECT_EQ(nullptr, second->pdata);
}

TEST_F(ModuleBoundary, InheritedOperationsAnswerTheBaseDefaults) {
  NPP instance = NewInstance();
  NPStream stream{};
  char buffer[16] = {};
  EXPECT_EQ(0, plugin.writeready(instance, &stream));
  EXPECT_EQ(0, plugin.write(instance, &stream, 0, sizeof buffer, buffer));
  uint16_t type = 0x7777;
  EXPECT_EQ(NPERR_NO_ERROR, plugin.newstream(instance, const_cast<char*>("text/plain"), &stream, 0, &type));
  EXPECT_EQ(0x7777, type);
  EXPECT_EQ(NPERR_NO_ERROR, plugin.destroystream(instance, &stream, NPRES_DONE));
  NPEvent event{};
  EXPECT_EQ(0, plugin.event(instance, &event));
  for (int variable : {1, 3, 14, 15, 18, 0x7fff}) {
    int value = 0;
    EXPECT_EQ(NPERR_NO_ERROR, plugin.setvalue(instance, static_cast<NPNVariable>(variable), &value)) << variable;
  }
  plugin.asfile(instance, &stream, "C:\\file");
  NPPrint print{};
  plugin.print(instance, &print);
  plugin.urlnotify(instance, "http://127.0.0.1/", NPRES_DONE, nullptr);
}

// Entry points reached without an instance object answer instead of crashing.
TEST_F(ModuleBoundary, EntryPointsWithoutAnInstanceObjectAnswerInvalidInstance) {
  NPP_t empty{};
  for (NPP instance : {static_cast<NPP>(nullptr), &empty}) {
    NPStream stream{};
    NPWindow window{};
    uint16_t type = 0;
    int value = 0;
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, plugin.destroy(instance, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, plugin.setwindow(instance, &window));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR,
              plugin.newstream(instance, const_cast<char*>("text/plain"), &stream, 0, &type));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, plugin.destroystream(instance, &stream, NPRES_DONE));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, plugin.setvalue(instance, NPNVWindowNPObject, &value));
    EXPECT_EQ(0, plugin.writeready(instance, &stream));
    EXPECT_EQ(0, plugin.write(instance, &stream, 0, 0, nullptr));
    EXPECT_EQ(0, plugin.event(instance, nullptr));
    plugin.asfile(instance, &stream, "x");
    plugin.print(instance, nullptr);
    plugin.urlnotify(instance, "x", NPRES_DONE, nullptr);
  }
  int value = 0;
  EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, plugin.getvalue(&empty, NPPVpluginNeedsXEmbed, &value));
  EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR,
            plugin.newp(const_cast<char*>(kMimeType), nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr));
}

TEST_F(ModuleBoundary, SecondInitialisationKeepsServingTheType) {
  ASSERT_EQ(NPERR_NO_ERROR, module->initialize(host.Table()));
  NPP instance = NewInstance();
  EXPECT_NE(nullptr, instance->pdata);
  EXPECT_EQ(NPERR_NO_ERROR, DestroyInstance(instance));
  module->shutdown();
}

}  // namespace
