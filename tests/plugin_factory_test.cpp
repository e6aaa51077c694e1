// The registry's own rules, on the linked objects.
#include <gtest/gtest.h>

#include <memory>

#include "plugin/plugin_factory.h"

namespace {

TEST(PluginFactory, RegisteringTwiceKeepsOneEntry) {
  PluginFactory::RegisterTypes();
  PluginFactory::RegisterTypes();
  EXPECT_EQ(1u, PluginFactory::TypeCount());
}

TEST(PluginFactory, EachLookupMakesAFreshObjectForTheExactTypeOnly) {
  PluginFactory::RegisterTypes();
  std::unique_ptr<PluginBase> first(PluginFactory::CreatePlugin("application/x-halvoplugin"));
  std::unique_ptr<PluginBase> second(PluginFactory::CreatePlugin("application/x-halvoplugin"));
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(nullptr, PluginFactory::CreatePlugin("application/x-halvoplugin "));
  EXPECT_EQ(nullptr, PluginFactory::CreatePlugin("application/x-halvoplugin;a=b"));
  EXPECT_EQ(nullptr, PluginFactory::CreatePlugin("application/x-HalvoPlugin"));
  EXPECT_EQ(nullptr, PluginFactory::CreatePlugin(nullptr));
}

}  // namespace
